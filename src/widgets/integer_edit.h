// SPDX-License-Identifier: MIT
// The integer boxes of the dialogs: what counts as an integer, and the message when it is not.
#pragma once

#include <optional>

#include <QString>

class QLineEdit;
class QWidget;

namespace bw::widgets {

inline constexpr const char *kNotIntegerMessage = "Please enter an integer.";

// An optional sign and decimal digits, blanks around them allowed, within the int range.
std::optional<int> parseInteger(const QString &text);

// The leading decimal number of `text` (after blanks and an optional sign); 0 when there is none. The
// lenient reading of the queue's retry boxes and of a URL's "{N}" prefix.
int leadingNumber(const QString &text);

// Makes `box` a bounded number box: typing is limited to integers in [minimum, maximum], and the error
// names `fieldName`.
void setIntegerBounds(QLineEdit *box, const QString &fieldName, int minimum, int maximum);

// The box's integer when it is one and within the box's bounds (if it has any).
std::optional<int> readBoundedInteger(const QLineEdit *box);

// "Max. Threads: please enter an integer from 1 to 100." for a bounded box, else "Please enter an
// integer.".
QString notIntegerText(const QLineEdit *box);

// Shows notIntegerText() and puts the focus back into the box with its text selected.
void reportNotInteger(QWidget *parent, QLineEdit *box);

} // namespace bw::widgets
