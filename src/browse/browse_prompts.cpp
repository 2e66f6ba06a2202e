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
    prompts.askName = [](QWidget *parent, const QString &caption, const QString &label,
                          const QString &text) -> std::optional<QString> {
        widgets::TextEntryDialog dialog(caption, label, text, parent);
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

QString deleteQuestion(const QStringList &names)
{
    constexpr qsizetype kNamed = 3;
    QStringList quoted;
    for (qsizetype i = 0; i < names.size() && i < kNamed; ++i)
        quoted << QStringLiteral("\"%1\"").arg(names[i]);
    const QString list = quoted.join(QStringLiteral(", "));
    if (names.size() <= kNamed)
        return QCoreApplication::translate("bw::browse::BrowsePrompts", "Delete %1?").arg(list);
    return QCoreApplication::translate("bw::browse::BrowsePrompts", "Delete %1 and %n more?", nullptr,
        static_cast<int>(names.size() - kNamed))
        .arg(list);
}

} // namespace bw::browse
