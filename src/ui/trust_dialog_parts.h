// SPDX-License-Identifier: MIT
// The parts the trust dialogs (certificates, host keys) share: selectable value labels and the button
// row whose default is Cancel, so that Enter never trusts what nobody looked at. GUI thread only.
#pragma once

#include <QString>

class QDialog;
class QDialogButtonBox;
class QLabel;
class QPushButton;

namespace bw::ui {

// A value the user may select and copy, found again by `objectName`.
QLabel *trustValueLabel(const QString &text, const QString &objectName);

// "Trust" (accepts) and Cancel (the default, rejects) for `dialog`.
QDialogButtonBox *trustButtonBox(
    QDialog &dialog, const QString &trustText, QPushButton *&trust, QPushButton *&cancel);

} // namespace bw::ui
