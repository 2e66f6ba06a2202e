// SPDX-License-Identifier: MIT
#include "ui/main_frame.h"

#include <QApplication>
#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>

#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "browse/site_dialog.h"
#include "core/diagnostic_log.h"
#include "core/queue_events.h"
#include "core/queue_list.h"
#include "engine/engine.h"
#include "platform/thread_util.h"
#include "ui/autostart.h"
#include "ui/desktop_notifier.h"
#include "ui/key_passphrase_command.h"
#include "ui/log_sub_frame.h"
#include "ui/queue_document.h"
#include "ui/queue_notices.h"
#include "ui/queue_view.h"
#include "widgets/app_icons.h"
#include "widgets/caption_bar.h"
#include "widgets/ctrl_list_view.h"
#include "widgets/remote_browser_link.h"
#include "widgets/size_text.h"
#include "widgets/tiled_list_ctrl.h"

namespace bw::ui {

using widgets::programIcon;

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
    watchKeyring(); // before the sites load, so their passwords follow the keyring
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
    queue().setNotifier(m_context.events);
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
    stopWatchingKeyring();
    if (m_context.events)
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

void CMainFrame::createLayout()
{
    m_mainSplitter = new QSplitter(Qt::Vertical, this);
    m_mainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    m_mainSplitter->setChildrenCollapsible(false);
    m_mainSplitter->setHandleWidth(kSplitterHandleWidth);
    m_logFrame = new CLogSubFrame(m_mainSplitter);
    m_subFrame = new CSubFrame(m_mainSplitter);
    m_queueView = new CFtpTreeView(queue(), m_context.engine.scheduler(), m_context.document, m_subFrame);
    m_queueView->setHidePassword(m_settings.hidePassword);
    m_queueView->setTrustStore(m_context.engine.trustStore());
    m_queueView->setKeyPassphrases(m_context.engine.keyPassphrases());
    m_queueView->keyPassphraseCommand()->setAskOnFirstNeed(true);
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
    m_remotePane->setIfFileExists(m_settings.ifFileExists);
    m_localPane->setRemoteBrowser(m_remotePane);
    m_remote = m_remotePane;
    m_queueView->setRemoteBrowser(m_remotePane);
    connect(m_remotePane, &browse::CManFtpView::logLine, this, &CMainFrame::onLogLine);
    connect(m_remotePane, &browse::CManFtpView::connectionChanged, this, &CMainFrame::updateCommandStates);
    connect(m_remotePane, &browse::CManFtpView::connectionChanged, this, [this](bool attached) {
        if (attached)
            statusBar()->showMessage(tr("Connected"));
        else
            statusBar()->clearMessage();
    });
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
    if (itemId != 0) {
        const auto id = static_cast<std::int32_t>(itemId);
        onItemChanged({id, mustSave, queue().snapshot(id), core::EventClock::now()});
        return;
    }
    if (!m_refreshPending && !m_closing) {
        m_refreshPending = true;
        m_refreshItem = 0;
        if (!m_refreshTimer->isActive())
            m_refreshTimer->start();
    }
    requestSave(mustSave);
}

void CMainFrame::onItemChanged(const core::ItemChangedEvent &event)
{
    m_queueView->showItem(event.itemId, event.item);
    if (event.item)
        openBatchLogOnFailure(*event.item);
    requestSave(event.mustSave);
}

void CMainFrame::onProgress(const core::ProgressEvent &event)
{
    m_queueView->showItem(event.itemId, event.item);
}

void CMainFrame::requestSave(bool mustSave)
{
    if (mustSave && !m_savePending && !m_closing) {
        m_savePending = true;
        if (!m_autosaveTimer->isActive())
            m_autosaveTimer->start();
    }
}

void CMainFrame::openBatchLogOnFailure(const core::QueueItem &item)
{
    if (!m_panesReady || m_logFrame->hasOpenedBatchLog())
        return;
    if (isLoggedFailure(static_cast<int>(item.status)))
        m_logFrame->openBatchLogOnce();
}

void CMainFrame::refreshTick()
{
    updateTrayIcon();
    m_notifier->checkQueue();
    m_queueView->queueRefresh(m_refreshItem);
    const std::int64_t totalKBps = m_queueView->totalSpeedKBps();
    m_speedPane->setText(totalKBps > 0 ? tr("Total: %1").arg(widgets::speedText(totalKBps)) : QString());
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

void CMainFrame::showDownloadPath()
{
    m_pathPane->setText(QString::fromStdString(m_context.engine.scheduler().downloadPath()));
}

void CMainFrame::writeAutostartEntry()
{
    ui::writeAutostartEntry(m_options.autostartEntryPath, m_options.programPath);
}

} // namespace bw::ui
