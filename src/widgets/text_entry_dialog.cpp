// SPDX-License-Identifier: MIT
#include "widgets/text_entry_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace bw::widgets {

TextEntryDialog::TextEntryDialog(
    const QString &caption, const QString &label, const QString &text, QWidget *parent)
    : QDialog(parent)
    , m_edit(new QLineEdit(text, this))
{
    setWindowTitle(caption);
    auto *layout = new QVBoxLayout(this);
    auto *prompt = new QLabel(label, this);
    prompt->setBuddy(m_edit);
    layout->addWidget(prompt);
    m_edit->setMinimumWidth(380);
    m_edit->selectAll();
    layout->addWidget(m_edit);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString TextEntryDialog::text() const
{
    return m_edit->text();
}

UserPrompts UserPrompts::modalDialogs()
{
    UserPrompts prompts;
    prompts.askText = [](QWidget *parent, const QString &caption, const QString &label,
                          const QString &text) -> std::optional<QString> {
        TextEntryDialog dialog(caption, label, text, parent);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.text();
    };
    prompts.askUrl = [](QWidget *parent, const QString &example) -> std::optional<QString> {
        TextEntryDialog dialog(kAddEditUrlCaption, kUrlLabel, QString(), parent);
        dialog.edit()->setPlaceholderText(example);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.text();
    };
    prompts.showError = [](QWidget *parent, const QString &text, const QString &caption) {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
        box.exec();
    };
    prompts.confirmUploads = [](QWidget *parent, const QStringList &uploads) {
        QMessageBox box(QMessageBox::Warning, QObject::tr("Queue Uploads?"),
            QObject::tr("Text from outside Bellwick asks to send files from this computer to a server:"),
            QMessageBox::Cancel, parent);
        box.setInformativeText(QObject::tr("Queue these uploads only if you meant to send these files."));
        box.setDetailedText(uploads.join(u'\n'));
        QPushButton *queue = box.addButton(QObject::tr("Queue Uploads"), QMessageBox::AcceptRole);
        box.setDefaultButton(QMessageBox::Cancel);
        box.exec();
        return box.clickedButton() == queue;
    };
    return prompts;
}

} // namespace bw::widgets
