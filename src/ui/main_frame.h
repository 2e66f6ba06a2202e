// SPDX-License-Identifier: MIT
// src/ui (bw_ui): the main window, the queue view, the log panes and the tray. May use the engine
// layers, widgets, browse and Qt; never app (the program hands in its document through QueueDocument).
//
// Bellwick's one top-level window: menus, toolbar and status bar, the log panes above the queue, local
// and remote panes, the refresh and autosave timers, the notification-area icon, the log-on start entry
// and the orderly shutdown that waits for the transfer engine. GUI thread only; the engine's events reach
// it through the notification bridge as `onLogLine`, `onQueueChanged`, `onItemChanged` and `onProgress`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QSystemTrayIcon>
#include <QUrl>

#include "engine/settings.h"
#include "ui/tray_status.h"
#include "widgets/text_entry_dialog.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class QToolBar;

namespace bw::core {
class QueueList;
class QueueEvents;
struct ItemChangedEvent;
struct ProgressEvent;
struct QueueItem;
} // namespace bw::core

namespace bw::engine {
class Engine;
class SettingsStore;
} // namespace bw::engine

namespace bw::browse {
class CLocalView;
class CManFtpView;
class CSiteDialog;
struct ConnectState;
} // namespace bw::browse

namespace bw::widgets {
class CCtrlListView;
class RemoteBrowserLink;
} // namespace bw::widgets

namespace bw::ui {

class CFtpTreeView;
class ClipboardWatcher;
class CLogSubFrame;
class CSubFrame;
class DesktopNotifier;
class QueueDocument;
using widgets::CCtrlListView;
using widgets::RemoteBrowserLink;
using widgets::UserPrompts;

// What the frame works with. The engine, store and document outlive the frame.
struct MainFrameContext
{
    engine::Engine &engine;
    engine::SettingsStore &settingsStore;
    QueueDocument &document;
    // The queue's events, drained by the program's bridge into onLogLine, onQueueChanged, onItemChanged
    // and onProgress; registered with the queue when the window is created and closed when the window
    // closes. May be null (no events).
    core::QueueEvents *events = nullptr;
};

struct MainFrameOptions
{
    int refreshIntervalMs = 1000;
    int autosaveIntervalMs = 10000;
    // Whether the desktop offers a notification area; without one the window never hides into it
    // (it could not be brought back).
    bool trayAvailable = false;
    QString autostartEntryPath; // empty: the user's autostart folder
    QString programPath; // what the autostart entry starts; empty: this program
    QString manualPath; // opened by Help Topics
    // Opens the manual in the desktop's browser, false when none did; empty: QDesktopServices.
    std::function<bool(const QUrl &)> openInBrowser;
    QString siteFilePath; // the saved sites; empty: "database.usr" in the user's data folder
    // Runs Connect's "Connection Entries" dialog and returns its result; empty: the modal dialog.
    std::function<int(browse::CSiteDialog &)> runSiteDialog;

    static MainFrameOptions defaults();
};

class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr const char *kTitle = "Bellwick";
    static constexpr const char *kExampleUrl = "ftp://ftp.example.com/pub/example.zip";
    static constexpr int kStatusPaneWidth = 300;
    static constexpr int kLogRowHeight = 160; // both log captions and a few lines of the open one

    // Construction and window creation: loads the settings (the engine takes its part, the window
    // keeps the rest), builds the window, registers the notifier and removes the log-on start entry.
    // The engine is started by `startEngine`.
    CMainFrame(MainFrameContext context, MainFrameOptions options = MainFrameOptions::defaults(),
        QWidget *parent = nullptr);
    // Saves the site list and the settings.
    ~CMainFrame() override;

    // Starts the scheduler if it is stopped, so transfers begin as soon as the window exists.
    void startEngine();

    // The queue's events, on the GUI thread. `onQueueChanged` with an item id shows the item as the
    // queue holds it now; the events show the copy they carry.
    void onLogLine(unsigned message, quint64 threadId, const QString &text);
    void onQueueChanged(bool mustSave, qint64 itemId);
    void onItemChanged(const core::ItemChangedEvent &event);
    void onProgress(const core::ProgressEvent &event);
    // A pending manual connection was handed to the remote browser.
    void onManualHandover(std::int32_t itemId);

    // Commands.
    void addUrlCommand();
    void goCommand();
    void optionsCommand();
    void pathCommand();
    void deleteCommand();
    void editUrlCommand();
    void toggleTray();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void helpTopics();
    void aboutCommand();
    // Manual browsing: the site dialog and the manual connection it asks for; the remote browser's
    // download of its selection and the local pane's upload of its selection.
    void connectCommand();
    void downloadCommand();
    void uploadCommand();
    // Files dropped on the window: each queue file among them is opened as the queue document.
    void openDroppedFiles(const QList<QUrl> &urls);

    // The tray icon and tooltip for the current engine state (also when not in the tray).
    TrayStatus currentTrayStatus() const;

    bool inTray() const { return m_inTray; }

    bool isClosing() const { return m_closing; }

    bool isClosed() const { return m_closed; }

    // The one-time layout of the first showing is done; log lines are shown from then on.
    bool panesReady() const { return m_panesReady; }

    bool refreshPending() const { return m_refreshPending; }

    bool savePending() const { return m_savePending; }

    CFtpTreeView *queueView() const { return m_queueView; }

    DesktopNotifier *notifier() const { return m_notifier; }

    CLogSubFrame *logFrame() const { return m_logFrame; }

    ClipboardWatcher *clipboardWatcher() const { return m_clipboard; }

    CCtrlListView *batchLog() const;
    CCtrlListView *manualLog() const;

    CCtrlListView *localView() const { return m_localView; }

    CCtrlListView *remoteView() const { return m_remoteView; }

    browse::CLocalView *localPane() const { return m_localPane; }

    browse::CManFtpView *remotePane() const { return m_remotePane; }

    const browse::ConnectState &connectState() const { return *m_connect; }

    QSplitter *mainSplitter() const { return m_mainSplitter; }

    QLabel *pathPane() const { return m_pathPane; }

    // "Total: 1.2 MiB/s" while transfers run, else empty.
    QLabel *speedPane() const { return m_speedPane; }

    QToolBar *toolBar() const { return m_toolBar; }

    QSystemTrayIcon *trayIconObject() const { return m_trayIcon; }

    QMenu *trayMenu() const { return m_trayMenu; }

    QAction *action(const QString &objectName) const;

    void setRemoteBrowser(RemoteBrowserLink *browser);
    void setPrompts(UserPrompts prompts);

    // Transfers under way: the queue's running items and the remote pane's own.
    int runningTransfers() const;
    // The question asked before quitting while transfers run ("3 transfers are running. Quit
    // anyway?..."); true to quit. Tests put their own answer in.
    using QuitQuestion = std::function<bool(QWidget *parent, const QString &text)>;

    void setQuitQuestion(QuitQuestion ask) { m_askQuit = std::move(ask); }

    // Asks the quit question when transfers run; true when the window may close.
    bool mayQuit();

signals:
    // The close sequence has ended and the window is gone: the application may quit.
    void closed();
    // Emitted before every round of the close sequence's wait for the engine (tests drive re-entry here).
    void shutdownWaiting();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void createLayout();
    void createTray();
    void firstPaint();
    void refreshTick();
    void autosaveTick();
    // Once the connection Connect asked for has been made or has failed, "Connecting..." goes.
    void endConnectingWhenSettled();
    void updateCommandStates();
    void updateTrayIcon();
    void showTrayIcon(bool visible);
    void restoreFromTray();
    void showDownloadPath();
    void repaintCaptions();
    void writeAutostartEntry();
    void createClipboardWatcher();
    void applyClipboardOptions();
    void runShutdown();
    // A line about the site file, for the "Batch Log" and the diagnostic log.
    void logSiteFileNotice(const std::string &line);
    // The desktop keyring: the files follow it, and its absence is said once in "Batch Log".
    void watchKeyring();
    void stopWatchingKeyring();
    void onKeyringChanged();
    // The first failure of the run opens "Batch Log", where its reason was just written.
    void openBatchLogOnFailure(const core::QueueItem &item);
    void requestSave(bool mustSave);

    enum class DeleteTarget
    {
        QueueItems,
        LocalFiles,
        RemoteFiles,
    };

    DeleteTarget deleteTarget() const;
    bool canDeleteInFocus() const;

    core::QueueList &queue() const;

    MainFrameContext m_context;
    MainFrameOptions m_options;
    DesktopNotifier *m_notifier = nullptr;
    // The settings as last loaded or confirmed; the window's own options (tray, password masking, site
    // list on start, time stamps) are read from here.
    engine::Settings m_settings;
    UserPrompts m_prompts;
    RemoteBrowserLink *m_remote = nullptr;

    bool m_inTray = false;
    bool m_closing = false;
    bool m_closed = false;
    bool m_refreshPending = false;
    bool m_savePending = false;
    std::int32_t m_refreshItem = 0;
    std::int32_t m_connectingItem = 0; // the item Connect added while "Connecting..." shows
    bool m_firstPaint = true;
    bool m_panesReady = false;
    bool m_toldNoKeyring = false;

    QTimer *m_refreshTimer;
    QTimer *m_autosaveTimer;
    QToolBar *m_toolBar = nullptr;
    QLabel *m_pathPane = nullptr;
    QLabel *m_speedPane = nullptr;
    QSplitter *m_mainSplitter = nullptr;
    CLogSubFrame *m_logFrame = nullptr;
    CSubFrame *m_subFrame = nullptr;
    CFtpTreeView *m_queueView = nullptr;
    CCtrlListView *m_localView = nullptr;
    CCtrlListView *m_remoteView = nullptr;
    browse::CLocalView *m_localPane = nullptr;
    browse::CManFtpView *m_remotePane = nullptr;
    QuitQuestion m_askQuit;
    std::unique_ptr<browse::ConnectState> m_connect;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    ClipboardWatcher *m_clipboard = nullptr;
};

} // namespace bw::ui
