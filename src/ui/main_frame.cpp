// SPDX-License-Identifier: MIT
#include "ui/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWhatsThis>

#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "browse/site_dialog.h"
#include "core/diagnostic_log.h"
#include "core/queue_list.h"
#include "engine/engine.h"
#include "engine/queue_file.h"
#include "platform/thread_util.h"
#include "ui/about_dialog.h"
#include "ui/autostart.h"
#include "ui/desktop_notifier.h"
#include "ui/help_window.h"
#include "ui/log_sub_frame.h"
#include "ui/queue_document.h"
#include "ui/queue_notices.h"
#include "ui/queue_view.h"
#include "widgets/app_icons.h"
#include "widgets/caption_bar.h"
#include "widgets/ctrl_list_view.h"
#include "widgets/options_sheet.h"
#include "widgets/remote_browser_link.h"
#include "widgets/tiled_list_ctrl.h"
#include "widgets/url_text.h"

namespace bw::ui {

using widgets::editOptions;
using widgets::kAddEditUrlCaption;
using widgets::kUrlLabel;
using widgets::OptionsSheet;
using widgets::pickDownloadFolder;
using widgets::programIcon;
using widgets::ToolIcon;
using widgets::toolIcon;

MainFrameOptions MainFrameOptions::defaults()
{
    MainFrameOptions options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    return options;
}

CMainFrame::CMainFrame(MainFrameContext context, MainFrameOptions options, QWidget *parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_options(std::move(options))
    , m_prompts(UserPrompts::modalDialogs())
    , m_refreshTimer(new QTimer(this))
    , m_autosaveTimer(new QTimer(this))
{
    if (m_options.autostartEntryPath.isEmpty())
        m_options.autostartEntryPath = autostartEntryPath();
    if (m_options.programPath.isEmpty())
        m_options.programPath = QCoreApplication::applicationFilePath();

    // Construction: the settings into their holders.
    m_settings = m_context.engine.loadSettings(m_context.settingsStore);
    m_inTray = m_settings.systemTray && m_options.trayAvailable;
    // The saved sites; entries of an older file take their options from the settings.
    m_connect = std::make_unique<browse::ConnectState>();
    if (!m_options.siteFilePath.isEmpty())
        m_connect->sitesFile = m_options.siteFilePath.toStdString();
    m_connect->sites.setNoticeHandler([this](const std::string &line) { logSiteFileNotice(line); });
    m_connect->sites.load(m_connect->sitesFile, browse::siteOptionsFromSettings(m_context.settingsStore));
    if (!m_connect->sites.loadProblem().empty())
        core::DiagnosticLog::instance().write(
            "Site file " + m_connect->sitesFile.string() + ": " + m_connect->sites.loadProblem(), 2);

    // Window creation.
    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(programIcon());
    setWindowTitle(QString::fromLatin1(kTitle));
    setAcceptDrops(true);
    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    createLayout();
    createClipboardWatcher();
    if (m_inTray)
        createTray();
    queue().setNotifier(m_context.notifier);
    showDownloadPath();
    removeAutostartEntry(m_options.autostartEntryPath);
    if (m_inTray) {
        showTrayIcon(true);
        updateTrayIcon();
    }

    m_refreshTimer->setInterval(m_options.refreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &CMainFrame::refreshTick);
    m_autosaveTimer->setInterval(m_options.autosaveIntervalMs);
    connect(m_autosaveTimer, &QTimer::timeout, this, &CMainFrame::autosaveTick);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &CMainFrame::writeAutostartEntry);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &CMainFrame::repaintCaptions);
    connect(m_queueView, &CFtpTreeView::manualHandover, this, &CMainFrame::onManualHandover);
    // Delete follows the focus from pane to pane.
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::updateCommandStates);
    updateCommandStates();
}

CMainFrame::~CMainFrame()
{
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    if (m_context.notifier)
        queue().setNotifier(nullptr);
    // Only what changed is written: a file that could not be read stays as it is.
    m_connect->sites.saveIfModified(m_connect->sitesFile);
    m_context.engine.saveSettings(m_context.settingsStore, m_settings);
}

void CMainFrame::startEngine()
{
    if (!m_context.engine.isRunning())
        m_context.engine.start();
    updateCommandStates();
}

core::QueueList &CMainFrame::queue() const
{
    return m_context.engine.queue();
}

QAction *CMainFrame::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

CCtrlListView *CMainFrame::batchLog() const
{
    return m_logFrame->batchLog();
}

CCtrlListView *CMainFrame::manualLog() const
{
    return m_logFrame->manualLog();
}

void CMainFrame::setRemoteBrowser(RemoteBrowserLink *browser)
{
    m_remote = browser;
    m_queueView->setRemoteBrowser(browser);
    updateCommandStates();
}

void CMainFrame::setPrompts(UserPrompts prompts)
{
    m_prompts = prompts;
    m_queueView->setPrompts(std::move(prompts));
}

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
    add("exit", tr("E&xit"), tr("Quit Bellwick"), [this] { close(); });
    add("editUrl", tr("&Edit URL..."), tr("Edit the selected item's URL"), &CMainFrame::editUrlCommand);
    add("addUrl", tr("&Add URL..."), tr("Add a URL to the queue"), &CMainFrame::addUrlCommand)
        ->setIcon(toolIcon(ToolIcon::AddUrl));
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
    for (const char *name : {"connect", "temporaryDisconnect", "disconnect", "createRemoteFolder",
             "remoteDelete", "download", "upload", "", "go", "delete", "", "about", "contextHelp"}) {
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
    statusBar()->addPermanentWidget(m_pathPane);
    QMenu *view = findChild<QMenu *>(QStringLiteral("viewMenu"));
    QAction *toggle = makeAction(this, "viewStatusBar", tr("&Status Bar"), tr("Show or hide the status bar"));
    toggle->setCheckable(true);
    toggle->setChecked(true);
    connect(toggle, &QAction::toggled, statusBar(), &QStatusBar::setVisible);
    view->addAction(toggle);
}

void CMainFrame::createLayout()
{
    m_mainSplitter = new QSplitter(Qt::Vertical, this);
    m_mainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    m_mainSplitter->setChildrenCollapsible(false);
    m_logFrame = new CLogSubFrame(m_mainSplitter);
    m_subFrame = new CSubFrame(m_mainSplitter);
    m_queueView = new CFtpTreeView(queue(), m_context.engine.scheduler(), m_context.document, m_subFrame);
    m_queueView->setHidePassword(m_settings.hidePassword);
    m_queueView->setTrustStore(m_context.engine.trustStore());
    m_queueView->setFileNameConversion(m_settings.fileNameConversion);
    m_localPane = new browse::CLocalView(m_subFrame);
    m_localPane->setDirectory(m_context.engine.localFolder());
    // Downloads without a download folder follow the folder the user browses locally.
    connect(m_localPane, &browse::CLocalView::directoryChanged, this,
        [this](const QString &folder) { m_context.engine.setLocalFolder(folder.toStdString()); });
    m_localView = m_localPane;
    m_remotePane = new browse::CManFtpView(queue(), m_context.engine.leases(), m_subFrame);
    m_remoteView = m_remotePane;
    m_remotePane->setLocalView(m_localPane);
    m_localPane->setRemoteBrowser(m_remotePane);
    m_remote = m_remotePane;
    m_queueView->setRemoteBrowser(m_remotePane);
    connect(m_remotePane, &browse::CManFtpView::logLine, this, &CMainFrame::onLogLine);
    connect(m_remotePane, &browse::CManFtpView::connectionChanged, this, &CMainFrame::updateCommandStates);
    connect(m_remotePane, &browse::CManFtpView::busyChanged, this, &CMainFrame::updateCommandStates);
    for (CCtrlListView *pane : {m_localView, m_remoteView}) {
        connect(pane->list()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CMainFrame::updateCommandStates);
        connect(pane->list()->listModel(), &QAbstractItemModel::rowsRemoved, this,
            &CMainFrame::updateCommandStates);
    }
    m_subFrame->addWidget(m_queueView);
    m_subFrame->addWidget(m_localView);
    m_subFrame->addWidget(m_remoteView);
    m_mainSplitter->addWidget(m_logFrame);
    m_mainSplitter->addWidget(m_subFrame);
    // The log strip keeps its height when the window is resized; the panes below take the change.
    m_mainSplitter->setStretchFactor(0, 0);
    m_mainSplitter->setStretchFactor(1, 1);
    // Likewise "Batch Log" keeps its caption-high row when the log strip is sized; "Manual Log" takes the
    // rest.
    m_logFrame->setStretchFactor(0, 0);
    m_logFrame->setStretchFactor(1, 1);
    setCentralWidget(m_mainSplitter);
    resize(1000, 700);

    for (int tab = 0; tab < kQueueTabCount; ++tab) {
        TiledListCtrl *list = m_queueView->list(static_cast<QueueTab>(tab));
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CMainFrame::updateCommandStates);
        connect(list->listModel(), &QAbstractItemModel::rowsRemoved, this, &CMainFrame::updateCommandStates);
    }
    connect(m_queueView->tabs(), &QTabWidget::currentChanged, this, &CMainFrame::updateCommandStates);
}

void CMainFrame::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_firstPaint) {
        m_firstPaint = false;
        // Once the window has its final size.
        QTimer::singleShot(0, this, &CMainFrame::firstPaint);
    }
}

void CMainFrame::firstPaint()
{
    m_logFrame->batchLog()->setCaption(tr("Batch Log"));
    m_logFrame->manualLog()->setCaption(tr("Manual Log"));
    m_logFrame->setTimestamp(m_settings.timeStamp);
    m_panesReady = true;
    repaintCaptions();
    const int height = m_mainSplitter->height();
    m_mainSplitter->setSizes({kLogRowHeight, qMax(0, height - kLogRowHeight)});
    setWindowTitle(QString::fromLatin1(kTitle));
    m_queueView->queueRefresh(0);
    if (!m_connect->sites.loadProblem().empty())
        logSiteFileNotice("The site file " + m_connect->sitesFile.string() + " was not read whole ("
            + m_connect->sites.loadProblem() + "); it is kept until the sites change.");
    if (m_settings.showSiteStart && action(QStringLiteral("connect"))->isEnabled())
        action(QStringLiteral("connect"))->trigger();
}

void CMainFrame::repaintCaptions()
{
    for (CCtrlListView *pane : {m_logFrame->batchLog(), m_logFrame->manualLog(), m_localView, m_remoteView})
        pane->repaintCaption();
    m_queueView->captionBar()->update();
}

void CMainFrame::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        repaintCaptions();
    } else if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_inTray
        && m_settings.minimizeTray && m_options.trayAvailable && !m_closing) {
        // Leave the state change first; hiding from inside it confuses some window managers.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && !m_inTray)
                toggleTray();
        });
    }
}

void CMainFrame::onLogLine(unsigned message, quint64 threadId, const QString &text)
{
    Q_UNUSED(message);
    if (!m_panesReady)
        return;
    m_logFrame->addLine(text, static_cast<unsigned long>(threadId));
}

void CMainFrame::logSiteFileNotice(const std::string &line)
{
    core::DiagnosticLog::instance().write(line, 2);
    onLogLine(core::kWmLogStatus, platform::currentThreadId(), QString::fromStdString(line));
}

void CMainFrame::onQueueChanged(bool mustSave, qint64 itemId)
{
    if (itemId == 0 && !m_refreshPending && !m_closing) {
        m_refreshPending = true;
        m_refreshItem = 0;
        if (!m_refreshTimer->isActive())
            m_refreshTimer->start();
    }
    if (itemId != 0) {
        m_queueView->queueRefresh(static_cast<std::int32_t>(itemId));
        openBatchLogOnFailure(static_cast<std::int32_t>(itemId));
    }
    if (mustSave && !m_savePending && !m_closing) {
        m_savePending = true;
        if (!m_autosaveTimer->isActive())
            m_autosaveTimer->start();
    }
}

void CMainFrame::openBatchLogOnFailure(std::int32_t itemId)
{
    if (!m_panesReady || m_logFrame->hasOpenedBatchLog())
        return;
    const std::optional<core::QueueItem> item = m_context.engine.queue().snapshot(itemId);
    if (item && isLoggedFailure(static_cast<int>(item->status)))
        m_logFrame->openBatchLogOnce();
}

void CMainFrame::refreshTick()
{
    updateTrayIcon();
    m_notifier->checkQueue();
    m_queueView->queueRefresh(m_refreshItem);
    m_refreshPending = false;
    endConnectingWhenSettled();
    updateCommandStates();
}

void CMainFrame::endConnectingWhenSettled()
{
    if (m_connectingItem == 0)
        return;
    using core::ItemStatus;
    const std::optional<core::QueueItem> item = queue().snapshot(m_connectingItem);
    if (item) {
        switch (item->status) {
        case ItemStatus::StatusUnknown:
        case ItemStatus::StatusIdle:
        case ItemStatus::StatusTooManyConnections: // tried again later
        case ItemStatus::StatusReconnectAfterTransfers:
            return;
        default:
            if (core::isInProgressStatus(item->status))
                return;
        }
    }
    // Connected, failed or deleted: the pane goes back to the download folder.
    m_connectingItem = 0;
    showDownloadPath();
}

void CMainFrame::autosaveTick()
{
    m_context.document.save();
    m_savePending = false;
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

void CMainFrame::addUrlCommand()
{
    const std::optional<QString> text =
        m_prompts.askText(this, kAddEditUrlCaption, kUrlLabel, QString::fromLatin1(kExampleUrl));
    if (text)
        m_queueView->addUrlsInBatches(widgets::urlPieces(*text));
}

void CMainFrame::goCommand()
{
    m_context.engine.scheduler().go();
    updateCommandStates();
}

void CMainFrame::optionsCommand()
{
    engine::Settings settings = m_context.engine.currentSettings(m_settings);
    OptionsSheet sheet(OptionsSheet::Mode::Program, this);
    if (!editOptions(sheet, settings, m_context.settingsStore))
        return;
    m_context.engine.applySettings(settings);
    settings.systemTray = m_settings.systemTray;
    m_settings = settings;
    m_logFrame->setTimestamp(settings.timeStamp);
    m_queueView->setHidePassword(settings.hidePassword);
    m_queueView->setFileNameConversion(settings.fileNameConversion);
    applyClipboardOptions();
}

void CMainFrame::pathCommand()
{
    const QString folder =
        pickDownloadFolder(this, QString::fromStdString(m_context.engine.scheduler().downloadPath()));
    if (folder.isEmpty())
        return;
    // Set first, then save, so the chosen folder is what gets stored. Picking a folder means downloads
    // should go there.
    m_context.engine.scheduler().setDownloadPath(folder.toStdString());
    m_context.engine.scheduler().setUseDownloadPath(true);
    m_settings.useDownloadPath = true;
    m_context.engine.saveSettings(m_context.settingsStore, m_settings);
    showDownloadPath();
}

CMainFrame::DeleteTarget CMainFrame::deleteTarget() const
{
    // Delete goes to the pane that has the keyboard focus; from anywhere else it acts on the queue.
    const QWidget *focus = QApplication::focusWidget();
    auto holds = [focus](const QWidget *pane) {
        return pane && focus && (pane == focus || pane->isAncestorOf(focus));
    };
    if (holds(m_localPane))
        return DeleteTarget::LocalFiles;
    if (holds(m_remotePane))
        return DeleteTarget::RemoteFiles;
    return DeleteTarget::QueueItems;
}

bool CMainFrame::canDeleteInFocus() const
{
    switch (deleteTarget()) {
    case DeleteTarget::LocalFiles:
        return !m_localPane->list()->selectedRows().isEmpty();
    case DeleteTarget::RemoteFiles:
        return m_remote && m_remote->isConnected() && m_remote->hasSelection();
    case DeleteTarget::QueueItems:
        break;
    }
    return m_queueView->canDelete();
}

void CMainFrame::deleteCommand()
{
    if (!canDeleteInFocus())
        return;
    switch (deleteTarget()) {
    case DeleteTarget::LocalFiles:
        m_localPane->deleteSelection(); // asks "Are you sure?" first
        break;
    case DeleteTarget::RemoteFiles:
        m_remote->deleteSelection(); // asks "Are you sure?" first
        break;
    case DeleteTarget::QueueItems:
        m_queueView->deleteSelection();
        break;
    }
    updateCommandStates();
}

void CMainFrame::editUrlCommand()
{
    m_queueView->editUrl();
}

void CMainFrame::helpTopics()
{
    showHelpTopics(
        m_options.manualPath, this, m_options.openInBrowser ? m_options.openInBrowser : [](const QUrl &url) {
            return QDesktopServices::openUrl(url);
        });
}

void CMainFrame::aboutCommand()
{
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::showDownloadPath()
{
    m_pathPane->setText(QString::fromStdString(m_context.engine.scheduler().downloadPath()));
}

void CMainFrame::writeAutostartEntry()
{
    ui::writeAutostartEntry(m_options.autostartEntryPath, m_options.programPath);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent *event)
{
    // Queue files dropped on the window's frame are opened; text dropped on the panes is handled by the
    // panes.
    openDroppedFiles(event->mimeData()->urls());
    event->acceptProposedAction();
}

void CMainFrame::openDroppedFiles(const QList<QUrl> &urls)
{
    // Each in turn. Any file that is not a queue file is refused: opening it would make it the queue
    // file, and the next autosave would overwrite it with the queue.
    for (const QUrl &url : urls) {
        const QString path = url.toLocalFile();
        if (!url.isLocalFile() || !QFileInfo(path).isFile())
            continue;
        const QString problem = QString::fromStdString(engine::queueFileProblem(path.toStdString()));
        if (problem.isEmpty()) {
            m_context.document.openDocument(path);
            continue;
        }
        m_prompts.showError(this,
            tr("\"%1\" is not a queue file (%2). The queue stays in \"%3\".")
                .arg(path, problem, m_context.document.filePath()),
            tr("Error"));
    }
    m_queueView->queueRefresh(0);
}

void CMainFrame::connectCommand()
{
    const std::int32_t id = browse::runConnectCommand(
        this, *m_connect, m_context.settingsStore, queue(), m_options.runSiteDialog);
    if (id == 0)
        return;
    m_pathPane->setText(tr("Connecting..."));
    m_connectingItem = id;
    onQueueChanged(true, 0);
}

void CMainFrame::downloadCommand()
{
    if (m_remotePane && m_remotePane->canDownload())
        m_remotePane->downloadSelection();
    updateCommandStates();
}

void CMainFrame::uploadCommand()
{
    if (m_localPane && m_localPane->canUpload())
        m_localPane->uploadSelection();
    updateCommandStates();
}

} // namespace bw::ui
