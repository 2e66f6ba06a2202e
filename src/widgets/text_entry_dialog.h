// SPDX-License-Identifier: MIT
// The small one-line dialogs of the queue: "Add/Edit URL" (label "URL:") and the value dialog of the
// retry settings (label "Value: "), each with "OK" and "Cancel".
#pragma once

#include <functional>
#include <optional>

#include <QDialog>

class QLineEdit;

namespace bw::widgets {

class TextEntryDialog : public QDialog
{
    Q_OBJECT

public:
    TextEntryDialog(
        const QString &caption, const QString &label, const QString &text, QWidget *parent = nullptr);

    QString text() const;

    QLineEdit *edit() const { return m_edit; }

private:
    QLineEdit *m_edit;
};

// How the queue view and the main frame ask for a line of text and report an error. The defaults run
// the modal dialogs; tests put their own answers in.
struct UserPrompts
{
    // Returns the entered text, or nothing when the user cancelled.
    std::function<std::optional<QString>(
        QWidget *parent, const QString &caption, const QString &label, const QString &text)>
        askText;
    // "Add/Edit URL" with an empty box that shows `example` greyed until the user types.
    std::function<std::optional<QString>(QWidget *parent, const QString &example)> askUrl;
    std::function<void(QWidget *parent, const QString &text, const QString &caption)> showError;
    // Text from outside the program offered these uploads: true only when the user says to queue them.
    std::function<bool(QWidget *parent, const QStringList &uploads)> confirmUploads;

    static UserPrompts modalDialogs();
};

inline const QString kAddEditUrlCaption = QStringLiteral("Add/Edit URL");
inline const QString kUrlLabel = QStringLiteral("URL:");

} // namespace bw::widgets
