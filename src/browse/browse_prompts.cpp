// SPDX-License-Identifier: MIT
#include "browse/browse_prompts.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>

#include "browse/open_with_desktop.h"
#include "widgets/text_entry_dialog.h"

namespace bw::browse {

BrowsePrompts BrowsePrompts::modalDialogs()
{
    BrowsePrompts prompts;
    prompts.askName = [](QWidget *parent, const QString &text) -> std::optional<QString> {
        widgets::TextEntryDialog dialog(
            QCoreApplication::translate("bw::browse::BrowsePrompts", "Name"), QString(), text, parent);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.text();
    };
    prompts.confirm = [](QWidget *parent, const QString &text, const QString &caption) {
        return QMessageBox::question(
                   parent, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes;
    };
    prompts.openUrl = [](const QUrl &url) {
        openWithDesktop(url, [](const QUrl &target) { return QDesktopServices::openUrl(target); });
    };
    prompts.showError = [](QWidget *parent, const QString &text, const QString &caption) {
        QMessageBox::warning(parent, caption, text);
    };
    return prompts;
}

} // namespace bw::browse
