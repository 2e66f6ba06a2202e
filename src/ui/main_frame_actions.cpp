// SPDX-License-Identifier: MIT
// The main window's commands: the actions, the menus, the toolbar and the status bar that carry them,
// and the rule that enables each command for the window's state.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QWhatsThis>

#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "engine/engine.h"
#include "ui/desktop_notifier.h"
#include "ui/main_frame.h"
#include "widgets/app_icons.h"
#include "widgets/remote_browser_link.h"

namespace bw::ui {

using widgets::ToolIcon;
using widgets::toolIcon;

namespace {

QAction *makeAction(QObject *owner, const char *name, const QString &text, const QString &tip)
{
    auto *action = new QAction(text, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setStatusTip(tip);
    return action;
}

} // namespace

void CMainFrame::createActions()
{
    auto add = [this](const char *name, const QString &text, const QString &tip, auto slot) {
        QAction *action = makeAction(this, name, text, tip);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add("exit", tr("E&xit"), tr("Quit Bellwick"), [this] {
        if (mayQuit())
            close();
    });
    add("editUrl", tr("&Edit URL..."), tr("Edit the selected item's URL"), &CMainFrame::editUrlCommand);
    QAction *addUrl =
        add("addUrl", tr("&Add URL..."), tr("Add a URL to the queue (Ctrl+N)"), &CMainFrame::addUrlCommand);
    addUrl->setIcon(toolIcon(ToolIcon::AddUrl));
    addUrl->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    addUrl->setShortcutContext(Qt::WindowShortcut);
    QAction *remove =
        add("delete", tr("&Delete\tDel"), tr("Remove the selected items"), &CMainFrame::deleteCommand);
    remove->setShortcut(QKeySequence(Qt::Key_Delete));
    remove->setShortcutContext(Qt::WindowShortcut);
    remove->setIcon(toolIcon(ToolIcon::Delete));
    // Nothing to attach to in Bellwick: kept for the menu's shape, never shown.
    add("attach", tr("Attach"), QString(), [] {})->setVisible(false);
    QAction *go = add("go", tr("&Go"), tr("Start or stop the transfers"), &CMainFrame::goCommand);
    go->setCheckable(true);
    go->setIcon(toolIcon(ToolIcon::Go));
    add("options", tr("&Options..."), tr("Change the options"), &CMainFrame::optionsCommand);
    add("path", tr("&Path..."), tr("Choose the download folder"), &CMainFrame::pathCommand);
    // Manual browsing.
    add("connect", tr("&Connect"), tr("Connect to a site"), &CMainFrame::connectCommand)
        ->setIcon(toolIcon(ToolIcon::Connect));
    add("disconnect", tr("&Disconnect"), tr("Disconnect from the site"), [this] {
        if (m_remote && m_remote->isConnected())
            m_remote->disconnect(false);
        showDownloadPath();
    })->setIcon(toolIcon(ToolIcon::Disconnect));
    add("temporaryDisconnect", tr("Temporary Disconnect"), tr("Disconnect and reconnect after the transfers"),
        [this] {
            if (m_remote && m_remote->isConnected())
                m_remote->disconnect(true);
            showDownloadPath();
        })
        ->setIcon(toolIcon(ToolIcon::TemporaryDisconnect));
    add("createRemoteFolder", tr("Create Remote Folder"), tr("Create a folder on the site"), [this] {
        if (m_remote && m_remote->isConnected())
            m_remote->makeFolder();
    })->setIcon(toolIcon(ToolIcon::CreateRemoteFolder));
    add("remoteDelete", tr("Remote Delete"), tr("Delete the selected remote files"), [this] {
        if (m_remote && m_remote->isConnected() && m_remote->hasSelection())
            m_remote->deleteSelection();
    })->setIcon(toolIcon(ToolIcon::RemoteDelete));
    add("download", tr("Do&wnload"), tr("Download the selected remote files"), &CMainFrame::downloadCommand)
        ->setIcon(QIcon::fromTheme(QStringLiteral("go-down"), style()->standardIcon(QStyle::SP_ArrowDown)));
    add("upload", tr("&Upload"), tr("Upload the selected local files"), &CMainFrame::uploadCommand)
        ->setIcon(QIcon::fromTheme(QStringLiteral("go-up"), style()->standardIcon(QStyle::SP_ArrowUp)));
    add("helpTopics", tr("&Help Topics"), tr("Open the user manual"), &CMainFrame::helpTopics);
    add("about", tr("&About..."), tr("Program information and version"), &CMainFrame::aboutCommand)
        ->setIcon(toolIcon(ToolIcon::About));
    QAction *contextHelp = add("contextHelp", tr("Help"), tr("Help on a part of the window"),
        [] { QWhatsThis::enterWhatsThisMode(); });
    // No part of the window carries help text yet, so the button would only change the cursor.
    contextHelp->setIcon(toolIcon(ToolIcon::ContextHelp));
    contextHelp->setVisible(false);
    add("systemTray", tr("&Restore"), tr("Switch between the window and the tray"), &CMainFrame::toggleTray);
}

void CMainFrame::createMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(action(QStringLiteral("exit")));
    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    edit->addActions({action(QStringLiteral("editUrl")), action(QStringLiteral("addUrl")),
        action(QStringLiteral("delete")), action(QStringLiteral("attach"))});
    QMenu *download = menuBar()->addMenu(tr("&Download"));
    download->addActions(
        {action(QStringLiteral("go")), action(QStringLiteral("options")), action(QStringLiteral("path"))});
    QMenu *site = menuBar()->addMenu(tr("&Site"));
    site->addActions({action(QStringLiteral("connect")), action(QStringLiteral("disconnect"))});
    site->addSeparator();
    site->addActions({action(QStringLiteral("download")), action(QStringLiteral("upload"))});
    QMenu *view = menuBar()->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    m_notifier = new DesktopNotifier(m_context.engine.queue(), m_context.settingsStore, this);
    QAction *notify = view->addAction(tr("Desktop &Notifications"));
    notify->setObjectName(QStringLiteral("viewNotifications"));
    notify->setCheckable(true);
    notify->setChecked(m_notifier->isEnabled());
    connect(notify, &QAction::toggled, m_notifier, &DesktopNotifier::setEnabled);
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->addAction(action(QStringLiteral("helpTopics")));
    help->addSeparator();
    help->addAction(action(QStringLiteral("about")));
    for (QMenu *menu : {file, edit, download, site, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
}

void CMainFrame::createToolBar()
{
    m_toolBar = new QToolBar(tr("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setMovable(true);
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->setIconSize(QSize(16, 16));
    for (const char *name :
        {"connect", "temporaryDisconnect", "disconnect", "createRemoteFolder", "remoteDelete", "download",
            "upload", "", "addUrl", "go", "delete", "", "about", "contextHelp"}) {
        if (*name == '\0')
            m_toolBar->addSeparator();
        else
            m_toolBar->addAction(action(QString::fromLatin1(name)));
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    QMenu *view = findChild<QMenu *>(QStringLiteral("viewMenu"));
    QAction *toolbarToggle = m_toolBar->toggleViewAction();
    toolbarToggle->setText(tr("&Toolbar"));
    toolbarToggle->setObjectName(QStringLiteral("viewToolbar"));
    view->addAction(toolbarToggle);
}

void CMainFrame::createStatusBar()
{
    m_pathPane = new QLabel(this);
    m_pathPane->setObjectName(QStringLiteral("pathPane"));
    m_pathPane->setFixedWidth(kStatusPaneWidth);
    m_speedPane = new QLabel(this);
    m_speedPane->setObjectName(QStringLiteral("speedPane"));
    statusBar()->addPermanentWidget(m_speedPane);
    statusBar()->addPermanentWidget(m_pathPane);
    QMenu *view = findChild<QMenu *>(QStringLiteral("viewMenu"));
    QAction *toggle = makeAction(this, "viewStatusBar", tr("&Status Bar"), tr("Show or hide the status bar"));
    toggle->setCheckable(true);
    toggle->setChecked(true);
    connect(toggle, &QAction::toggled, statusBar(), &QStatusBar::setVisible);
    view->addAction(toggle);
}

void CMainFrame::updateCommandStates()
{
    const bool remoteConnected = m_remote && m_remote->isConnected();
    action(QStringLiteral("delete"))->setEnabled(canDeleteInFocus());
    QAction *go = action(QStringLiteral("go"));
    go->setChecked(m_context.engine.isRunning());
    action(QStringLiteral("connect"))->setEnabled(true);
    action(QStringLiteral("download"))->setEnabled(m_remotePane && m_remotePane->canDownload());
    action(QStringLiteral("upload"))->setEnabled(m_localPane && m_localPane->canUpload());
    // Disconnect also stops running commands; the others wait until those have ended.
    const bool remoteReady = remoteConnected && !(m_remotePane && m_remotePane->isBusy());
    for (const char *name : {"disconnect", "temporaryDisconnect"})
        action(QString::fromLatin1(name))->setEnabled(remoteConnected);
    action(QStringLiteral("createRemoteFolder"))->setEnabled(remoteReady);
    action(QStringLiteral("remoteDelete"))->setEnabled(remoteReady && m_remote->hasSelection());
    action(QStringLiteral("systemTray"))->setText(m_inTray ? tr("&Restore") : tr("System &Tray"));
}

} // namespace bw::ui
