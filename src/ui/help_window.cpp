// SPDX-License-Identifier: MIT
#include "ui/help_window.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace bw::ui {

HelpWindow::HelpWindow(QWidget *parent)
    : QDialog(parent)
    , m_notice(new QLabel(this))
    , m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(tr("Bellwick Help"));
    // Links to the web go to the desktop's browser; links inside the manual stay here.
    m_browser->setOpenExternalLinks(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *layout = new QVBoxLayout(this);
    m_notice->setWordWrap(true);
    m_notice->hide();
    layout->addWidget(m_notice);
    layout->addWidget(m_browser);
    layout->addWidget(buttons);
    resize(720, 560);
}

void HelpWindow::setNotice(const QString &text)
{
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

QString HelpWindow::notice() const
{
    return m_notice->text();
}

void HelpWindow::showManual(const QString &manualPath)
{
    if (!manualPath.isEmpty() && QFileInfo::exists(manualPath)) {
        m_browser->setSource(QUrl::fromLocalFile(manualPath));
        return;
    }
    m_browser->setPlainText(manualPath.isEmpty()
            ? tr("The Bellwick manual is not installed.")
            : tr("The Bellwick manual is not installed: %1 is missing.").arg(manualPath));
}

HelpWindow *showHelpTopics(
    const QString &manualPath, QWidget *parent, const std::function<bool(const QUrl &)> &openInBrowser)
{
    const bool haveManual = !manualPath.isEmpty() && QFileInfo::exists(manualPath);
    if (haveManual && openInBrowser && openInBrowser(QUrl::fromLocalFile(manualPath)))
        return nullptr;
    auto *window = parent ? parent->findChild<HelpWindow *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!window) {
        window = new HelpWindow(parent);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->showManual(manualPath);
    window->setNotice(haveManual
            ? HelpWindow::tr("The desktop could not open the manual in a web browser, so "
                             "it is shown here. It is the file %1.")
                  .arg(manualPath)
            : QString());
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace bw::ui
