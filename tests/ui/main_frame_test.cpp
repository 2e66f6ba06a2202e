// SPDX-License-Identifier: MIT
// The main window: layout and commands, the log routing, the refresh and autosave timers fed by the
// engine's notifications, the tray state, the log-on entry, and the close sequence.
#include <filesystem>
#include <thread>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QtTest>

#include "browse/browse_prompts.h"
#include "browse/local_view.h"
#include "engine/queue_file.h"
#include "frame_fixture.h"
#include "support/scripted_server.h"
#include "ui/autostart.h"
#include "ui/desktop_notifier.h"
#include "ui/log_sub_frame.h"
#include "ui/queue_view.h"
#include "widgets/caption_bar.h"
#include "widgets/ctrl_list_view.h"
#include "widgets/general_page.h"
#include "widgets/options_sheet.h"
#include "widgets/tiled_list_ctrl.h"

using namespace bw;
using namespace bw::ui;
using namespace bw::widgets;

class MainFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void windowLayout();
    void autostartEntryRemovedAtCreation();
    void logLinesRouteAfterFirstPaint();
    void firstFailureOpensTheBatchLog();
    void changeNotificationsRefreshAndAutosave();
    void deleteFollowsSelection();
    void droppedFileOpensOnlyAQueue();
    void deleteKeyActsOnTheFocusedPane();
    void damagedSiteFileIsNotOverwrittenAtExit();
    void goStopsAndStartsScheduler();
    void trayStatusFollowsScheduler();
    void trayStartAndHandover();
    void closeDuringShutdownIsIgnored();
    void shutdownDuringTransferSavesQueue();
    void settingsSavedWhenWindowGoes();
    void optionsApplyOnlyOnOk();
    void windowOptionsStayTheWindows();
    void downloadsFollowTheLocalPane();
};

void MainFrameTest::windowLayout()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    QCOMPARE(frame.windowTitle(), QStringLiteral("Bellwick"));

    QStringList tools;
    for (QAction *action : frame.toolBar()->actions())
        tools << (action->isSeparator() ? QStringLiteral("|") : action->objectName());
    QCOMPARE(tools.join(u' '),
        QStringLiteral(
            "connect temporaryDisconnect disconnect createRemoteFolder remoteDelete download upload | "
            "addUrl go delete | about contextHelp"));
    QVERIFY(frame.toolBar()->isMovable());
    QCOMPARE(frame.toolBar()->allowedAreas(), Qt::AllToolBarAreas);

    QStringList menus;
    for (QAction *menu : frame.menuBar()->actions())
        menus << menu->text();
    QCOMPARE(menus, (QStringList{"&File", "&Edit", "&Download", "&Site", "&View", "&Help"}));
    QCOMPARE(frame.action("delete")->text(), QStringLiteral("&Delete\tDel"));
    QCOMPARE(frame.action("delete")->shortcut(), QKeySequence(Qt::Key_Delete));
    QCOMPARE(frame.action("addUrl")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    QCOMPARE(frame.pathPane()->width(), CMainFrame::kStatusPaneWidth);
    QCOMPARE(frame.pathPane()->text(), QString::fromStdString(b.engine.downloads().string()));

    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTRY_VERIFY(frame.panesReady());
    QCOMPARE(frame.mainSplitter()->sizes().first(), CMainFrame::kLogRowHeight);
    // Only the caption of "Batch Log" shows until the user drags the splitter.
    QCOMPARE(frame.logFrame()->sizes().first(), CCtrlListView::captionHeight());
    QCOMPARE(frame.batchLog()->caption(), QStringLiteral("Batch Log"));
    QCOMPARE(frame.manualLog()->caption(), QStringLiteral("Manual Log"));
    QCOMPARE(frame.queueView()->caption(), QStringLiteral("Transfer Queue"));
    QCOMPARE(frame.localView()->caption(), QStringLiteral("Local HDD"));
    QCOMPARE(frame.remoteView()->caption(), QStringLiteral("Remote Site"));
    const QStringList tabs{"Queue", "Active", "Complete", "Errors"};
    for (int tab = 0; tab < tabs.size(); ++tab)
        QCOMPARE(frame.queueView()->tabs()->tabText(tab), tabs[tab]);
    QAbstractItemModelTester tester(frame.queueView()->list(QueueTab::Queue)->listModel(),
        QAbstractItemModelTester::FailureReportingMode::QtTest);
    TiledListCtrl *queue = frame.queueView()->list(QueueTab::Queue);
    QCOMPARE(queue->columnCount(), int(kQueueColumnCount));
    QCOMPARE(queue->listModel()->headerData(ColumnLocalPath, Qt::Horizontal).toString(),
        QStringLiteral("Local Path"));
    // The columns a user reads first fit their usual texts in the window's font.
    const QFontMetrics metrics(queue->font());
    QVERIFY(queue->columnWidth(ColumnAction) >= 150);
    QVERIFY(
        queue->columnWidth(ColumnAction) > metrics.horizontalAdvance(QStringLiteral("Downloading - 100%")));
    QVERIFY(queue->columnWidth(ColumnBytes) > metrics.horizontalAdvance(QStringLiteral("1023.9 MiB (100%)")));
    QVERIFY(queue->columnWidth(ColumnSpeed)
        > metrics.horizontalAdvance(QStringLiteral("999 kB/s, 59m 59s left")));
}

void MainFrameTest::autostartEntryRemovedAtCreation()
{
    test::FrameBundle b;
    const QString entry = b.options.autostartEntryPath;
    QVERIFY(writeAutostartEntry(entry, QStringLiteral("/opt/my tools/bellwick")));
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(text.contains(QStringLiteral("\nExec=\"/opt/my tools/bellwick\"\n")));
    QVERIFY(text.contains(QStringLiteral("\nName=Bellwick\n")));

    b.create();
    QVERIFY(!QFile::exists(entry));
    QVERIFY(removeAutostartEntry(entry)); // nothing left to remove is fine
}

void MainFrameTest::logLinesRouteAfterFirstPaint()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    frame.onLogLine(core::kWmLogStatus, 4321, QStringLiteral("too early"));
    QCOMPARE(frame.batchLog()->list()->rowCount(), 0);

    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTRY_VERIFY(frame.panesReady());
    // From a worker thread, through the queue and the bridge, as the engine sends them.
    std::thread worker([&] { b.engine.queue.notifyLogStatus("Connecting..."); });
    QTRY_COMPARE_WITH_TIMEOUT(frame.batchLog()->list()->rowCount(), 1, 5000);
    worker.join();
    const QString line = frame.batchLog()->list()->itemText(0, 0);
    QVERIFY2(line.endsWith(QStringLiteral("] Connecting...")), qPrintable(line));
    QVERIFY(!line.startsWith(QStringLiteral("[0]")));
    frame.onLogLine(core::kWmLogSent, 0, QStringLiteral("CWD /pub"));
    QCOMPARE(frame.manualLog()->list()->rowCount(), 1);
    QCOMPARE(frame.batchLog()->list()->rowCount(), 1);
}

void MainFrameTest::firstFailureOpensTheBatchLog()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTRY_VERIFY(frame.panesReady());
    const int caption = CCtrlListView::captionHeight();
    QCOMPARE(frame.logFrame()->sizes().first(), caption);

    // Progress and steps leave it closed; a worker's failure (its reason just logged) opens it.
    const std::int32_t id = b.engine.queue.addItem("ftp://host.example/pub/a.bin", "/tmp/a.bin");
    b.engine.queue.setStatus(id, core::ItemStatus::StatusTransferring);
    frame.onQueueChanged(false, id);
    QCOMPARE(frame.logFrame()->sizes().first(), caption);
    b.engine.queue.setStatus(id, core::ItemStatus::StatusFailedToConnect);
    std::thread worker([&] { b.engine.queue.notifyQueueChanged(false, id); });
    QTRY_VERIFY_WITH_TIMEOUT(frame.logFrame()->sizes().first() > caption, 5000);
    worker.join();

    // Closed by the user, it stays closed for the rest of the run.
    const QList<int> opened = frame.logFrame()->sizes();
    frame.logFrame()->setSizes({caption, opened.value(0) + opened.value(1) - caption});
    b.engine.queue.setStatus(id, core::ItemStatus::StatusTransferFailed);
    frame.onQueueChanged(false, id);
    QCOMPARE(frame.logFrame()->sizes().first(), caption);
}

void MainFrameTest::changeNotificationsRefreshAndAutosave()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QSignalSpy saved(&b.engine.document, &bw::app::CBellwickDoc::saved);

    // A change without an item waits for the refresh tick; one without "save" schedules no save.
    const std::int32_t id = b.engine.queue.addItem("ftp://host.example/pub/a.bin", "/tmp/a.bin");
    frame.onQueueChanged(false, 0);
    QVERIFY(frame.refreshPending());
    QVERIFY(!frame.savePending());
    QCOMPARE(frame.queueView()->list(QueueTab::Queue)->findItemId(id), -1);
    QTRY_VERIFY_WITH_TIMEOUT(frame.queueView()->list(QueueTab::Queue)->findItemId(id) >= 0, 5000);
    QVERIFY(!frame.refreshPending());
    QCOMPARE(saved.count(), 0);

    // A change with an item id refreshes that row at once.
    b.engine.queue.setStatus(id, core::ItemStatus::StatusConnecting);
    frame.onQueueChanged(false, id);
    QVERIFY(frame.queueView()->list(QueueTab::Active)->findItemId(id) >= 0);

    // A change that must be saved reaches the file on the autosave tick, from a worker thread.
    b.engine.queue.setStatus(id, core::ItemStatus::StatusIdle);
    std::thread worker([&] { b.engine.queue.notifyQueueChanged(true, 0); });
    QTRY_VERIFY_WITH_TIMEOUT(saved.count() >= 1, 5000);
    worker.join();
    QVERIFY(!frame.savePending());
    core::QueueList reloaded;
    const engine::QueueFileLoadResult result = engine::loadQueueFile(b.engine.queueFile(), reloaded);
    QCOMPARE(result.loadedCount, 1);
    QCOMPARE(reloaded.snapshot().front().url, std::string("ftp://host.example/pub/a.bin"));
}

void MainFrameTest::deleteFollowsSelection()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    const std::int32_t id = b.engine.queue.addItem("ftp://host.example/pub/a.bin", "/tmp/a.bin");
    frame.queueView()->refreshItem(id);
    QVERIFY(!frame.action("delete")->isEnabled());
    TiledListCtrl *queue = frame.queueView()->list(QueueTab::Queue);
    queue->selectRow(queue->findItemId(id));
    QVERIFY(frame.action("delete")->isEnabled());
    frame.action("delete")->trigger();
    QVERIFY(!b.engine.queue.contains(id));
    QVERIFY(!frame.action("delete")->isEnabled());
    // Manual browsing is not attached: Connect is always there, the others are disabled.
    QVERIFY(frame.action("connect")->isEnabled());
    for (const char *name :
        {"disconnect", "temporaryDisconnect", "createRemoteFolder", "remoteDelete", "download", "upload"})
        QVERIFY2(!frame.action(name)->isEnabled(), name);
}

namespace {

void dropFiles(CMainFrame &frame, const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    frame.openDroppedFiles(urls);
}

} // namespace

void MainFrameTest::droppedFileOpensOnlyAQueue()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    QStringList errors;
    UserPrompts prompts = UserPrompts::modalDialogs();
    prompts.showError = [&](QWidget *, const QString &text, const QString &caption) {
        errors << caption + u'|' + text;
    };
    frame.setPrompts(prompts);
    const QString queueFile = b.engine.document.filePath();
    b.engine.queue.addItem("ftp://host.example/pub/kept.bin", "/tmp/kept.bin");

    const std::string gif(
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00,\x00\x00\x00\x00\x01\x00"
        "\x01\x00\x00;",
        27);
    const std::vector<std::pair<std::string, std::string>> refused{
        {"picture.gif", gif},
        {"notes.txt", "not a queue at all\n"},
        {"empty.ftp", ""},
        // A record count of 0 and bytes behind it, as the start of a small bitmap reads.
        {"bitmap.bmp", std::string("BM\x3a\x00\x00\x00\x00\x00", 8) + "pixels"},
        // A queue cut inside its only record.
        {"cut.ftp",
            std::string("\x01\x00\x00\x00\x01\x00\x00\x00\x10\x00\x00\x00"
                        "ftp://h",
                19)},
    };
    for (const auto &[name, bytes] : refused) {
        const std::filesystem::path path = b.engine.dir / name;
        test::writeFile(path, bytes);
        errors.clear();
        dropFiles(frame, {QString::fromStdString(path.string())});
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("Error|")), qPrintable(errors.first()));
        QVERIFY2(errors.first().contains(QString::fromStdString(name)), qPrintable(errors.first()));
        QCOMPARE(b.engine.document.filePath(), queueFile);
        QVERIFY(b.engine.document.save());
        QCOMPARE(test::readFile(path), bytes);
    }
    QCOMPARE(b.engine.queue.count(), std::size_t(1));
    core::QueueList reloaded;
    QCOMPARE(engine::loadQueueFile(b.engine.queueFile(), reloaded).loadedCount, 1);

    // A real queue file still opens: its items follow the current ones and it becomes the queue file.
    core::QueueList other;
    other.addItem("ftp://host.example/pub/other.bin", "/tmp/other.bin");
    const std::filesystem::path otherFile = b.engine.dir / "other.ftp";
    test::writeFile(otherFile, engine::encodeQueue(other));
    errors.clear();
    dropFiles(frame, {QString::fromStdString(otherFile.string())});
    QVERIFY(errors.isEmpty());
    QCOMPARE(b.engine.queue.count(), std::size_t(2));
    QCOMPARE(b.engine.document.filePath(), QString::fromStdString(otherFile.string()));
}

void MainFrameTest::deleteKeyActsOnTheFocusedPane()
{
    test::FrameBundle b;
    const std::filesystem::path folder = b.engine.dir / "local";
    std::filesystem::create_directories(folder);
    test::writeFile(folder / "victim.txt", "x");

    CMainFrame &frame = b.create();
    frame.localPane()->setDirectory(folder.string());
    const std::int32_t id = b.engine.queue.addItem("ftp://host.example/pub/a.bin", "/tmp/a.bin");
    frame.queueView()->refreshItem(id);
    TiledListCtrl *queue = frame.queueView()->list(QueueTab::Queue);
    queue->selectRow(queue->findItemId(id));
    QStringList asked;
    browse::BrowsePrompts prompts = browse::BrowsePrompts::modalDialogs();
    prompts.confirm = [&](QWidget *, const QString &, const QString &caption) {
        asked << caption;
        return true;
    };
    frame.localPane()->setPrompts(prompts);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(frame.isActiveWindow(), 5000);

    // Del in the local pane deletes its selected file, after its question, and leaves the queue alone.
    TiledListCtrl *files = frame.localPane()->list();
    frame.localPane()->setDirectory(folder.string());
    frame.localPane()->listDirectory();
    files->selectRow(frame.localPane()->rowOf(QStringLiteral("victim.txt")));
    files->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(files->hasFocus(), 5000);
    QTest::keyClick(files, Qt::Key_Delete);
    QCOMPARE(asked, QStringList{QStringLiteral("Delete")});
    QVERIFY(!std::filesystem::exists(folder / "victim.txt"));
    QVERIFY(b.engine.queue.contains(id));

    // With nothing selected in the focused pane Delete has nothing to do, whatever the queue holds.
    files->clearSelection();
    QTRY_VERIFY_WITH_TIMEOUT(!frame.action("delete")->isEnabled(), 5000);

    // Del in the queue view deletes the queue row.
    queue->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(queue->hasFocus(), 5000);
    queue->selectRow(queue->findItemId(id));
    QTest::keyClick(queue, Qt::Key_Delete);
    QVERIFY(!b.engine.queue.contains(id));
    QCOMPARE(asked.size(), 1);
}

void MainFrameTest::damagedSiteFileIsNotOverwrittenAtExit()
{
    test::FrameBundle b;
    const std::filesystem::path sites = b.path("database.usr").toStdString();
    // A marker, version 1, two entries promised and one cut short.
    const std::string damaged =
        std::string("\xff\xff\xff\xff\x01\x00\x00\x00\x02\x00\x00\x00\x04\x00\x00\x00", 16) + "ho";
    test::writeFile(sites, damaged);
    CMainFrame &frame = b.create();
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTRY_VERIFY(frame.panesReady());
    // The Batch Log says what happened to the file.
    TiledListCtrl *log = frame.batchLog()->list();
    QTRY_VERIFY_WITH_TIMEOUT(log->rowCount() > 0, 5000);
    bool told = false;
    for (int row = 0; row < log->rowCount(); ++row)
        told = told || log->itemText(row, 0).contains(QStringLiteral("database.usr"));
    QVERIFY(told);
    frame.close();
    QTRY_VERIFY_WITH_TIMEOUT(frame.isClosed(), 10000);
    b.frame.reset();
    QCOMPARE(test::readFile(sites), damaged);
}

void MainFrameTest::goStopsAndStartsScheduler()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    frame.startEngine();
    QVERIFY(b.engine.scheduler.isRunning());
    QVERIFY(frame.action("go")->isChecked());
    frame.action("go")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!b.engine.scheduler.isRunning(), 5000);
    frame.action("go")->trigger();
    QVERIFY(b.engine.scheduler.isRunning());
    QVERIFY(frame.action("go")->isChecked());
}

void MainFrameTest::trayStatusFollowsScheduler()
{
    test::FrameBundle b;
    b.engine.store.writeInt("Options", "MaxThreads", 0);
    CMainFrame &frame = b.create();
    QCOMPARE(frame.currentTrayStatus().toolTip, QStringLiteral("Idle"));
    QCOMPARE(frame.currentTrayStatus().image, TrayImage::Idle);
    frame.startEngine();
    // No jobs may run at all: full load.
    QCOMPARE(frame.currentTrayStatus().image, TrayImage::Load4);
    QCOMPARE(frame.currentTrayStatus().toolTip, QStringLiteral("0 Transferring, 0 Attempting, 0 Idle"));
}

void MainFrameTest::trayStartAndHandover()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("No Icon set")));
    test::FrameBundle b;
    b.options.trayAvailable = true;
    b.engine.store.writeInt("Options", "SystemTray", 1);
    CMainFrame &frame = b.create();
    QVERIFY(frame.inTray());
    QVERIFY(!frame.isVisible());
    QVERIFY(frame.trayIconObject());
    QCOMPARE(frame.trayIconObject()->toolTip(), QStringLiteral("Idle"));
    // A desktop notice goes through the tray icon: the panel never holds a second one.
    QCOMPARE(frame.notifier()->messageIcon(), frame.trayIconObject());
    // The refresh tick keeps the tooltip in step with the engine.
    frame.startEngine();
    frame.onQueueChanged(false, 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        frame.trayIconObject()->toolTip(), QStringLiteral("0 Transferring, 0 Attempting, 10 Idle"), 5000);

    // A pending manual connection brings the window back and leaves the tray.
    frame.onManualHandover(5);
    QVERIFY(!frame.inTray());
    QVERIFY(frame.isVisible());

    // Minimizing goes to the tray again ("Minimize to tray" is on by default).
    frame.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY_WITH_TIMEOUT(frame.inTray(), 5000);
    QVERIFY(!frame.isVisible());
    frame.toggleTray();
    QVERIFY(!frame.inTray());
    QVERIFY(frame.isVisible());

    // Without a tray icon of the window, the notice's own icon carries the program's picture.
    QApplication::setWindowIcon(QIcon());
    DesktopNotifier alone(b.engine.queue, b.engine.store);
    alone.messageIcon()->show();
    QVERIFY(!alone.messageIcon()->icon().isNull());

    // Without a notification area the window never hides: it could not be brought back.
    test::FrameBundle plain;
    plain.engine.store.writeInt("Options", "SystemTray", 1);
    CMainFrame &visible = plain.create();
    QVERIFY(!visible.inTray());
    visible.toggleTray();
    QVERIFY(!visible.inTray());
}

void MainFrameTest::closeDuringShutdownIsIgnored()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    frame.show();
    frame.startEngine();
    QSignalSpy closed(&frame, &CMainFrame::closed);
    QSignalSpy saved(&b.engine.document, &bw::app::CBellwickDoc::saved);
    int rounds = 0;
    bool nestedEventAccepted = true;
    connect(&frame, &CMainFrame::shutdownWaiting, this, [&] {
        if (rounds++ != 0)
            return;
        // Both ways a second close request can arrive while the sequence waits for the engine.
        QCloseEvent event;
        QCoreApplication::sendEvent(&frame, &event);
        nestedEventAccepted = event.isAccepted();
        frame.close();
    });
    QVERIFY(frame.close());
    QVERIFY(rounds >= 1);
    QVERIFY(!nestedEventAccepted);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(saved.count(), 2); // once before the wait and once after: one sequence only
    QVERIFY(frame.isClosed());
    QVERIFY(!b.engine.scheduler.isRunning());
}

void MainFrameTest::shutdownDuringTransferSavesQueue()
{
    // A server that sends the start of a large file and then stalls: the transfer is running when the
    // window closes.
    test::ScriptedServer server;
    server.add(test::ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(5000, 'b'))
        .hold();
    server.start();

    test::FrameBundle b;
    CMainFrame &frame = b.create();
    frame.show();
    frame.startEngine();
    const QString url = QStringLiteral("http://127.0.0.1:%1/big.bin").arg(server.port());
    const std::int32_t id = frame.queueView()->addUrl(url, true);
    QVERIFY(id != 0);
    QTRY_VERIFY_WITH_TIMEOUT(core::snapshotOrVanished(b.engine.queue, id).bytesDone >= 5000, 20000);
    QCOMPARE(core::snapshotOrVanished(b.engine.queue, id).status, core::ItemStatus::StatusTransferring);

    // Exit asks first while a transfer runs; No keeps the window.
    QString asked;
    frame.setQuitQuestion([&asked](QWidget *, const QString &text) {
        asked = text;
        return false;
    });
    frame.action(QStringLiteral("exit"))->trigger();
    QCOMPARE(asked, QStringLiteral("1 transfer is running. Quit anyway? It resumes next time."));
    QVERIFY(!frame.isClosed());

    QElapsedTimer clock;
    clock.start();
    QVERIFY(frame.close());
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!b.engine.scheduler.isRunning());
    QVERIFY(b.engine.queue.contains(id));
    // Stopped by the user: no failure, no attempt used.
    QVERIFY(core::snapshotOrVanished(b.engine.queue, id).stoppedByUser);
    QCOMPARE(core::snapshotOrVanished(b.engine.queue, id).attempts, 0);

    core::QueueList reloaded;
    QCOMPARE(engine::loadQueueFile(b.engine.queueFile(), reloaded).loadedCount, 1);
    const std::int32_t back = reloaded.ids().front();
    QCOMPARE(core::snapshotOrVanished(reloaded, back).url, url.toStdString());
    QCOMPARE(core::snapshotOrVanished(reloaded, back).status, core::ItemStatus::StatusIdle);
    QCOMPARE(QString::fromStdString(core::statusText(core::snapshotOrVanished(reloaded, back).status)),
        QStringLiteral("Idle"));
    // The partial file stays for a later resume.
    QCOMPARE(QFileInfo(QString::fromStdString((b.engine.downloads() / "big.bin.part").string())).size(),
        qint64(5000));
}

void MainFrameTest::settingsSavedWhenWindowGoes()
{
    test::FrameBundle b;
    b.create();
    b.frame->close();
    b.frame.reset();
    for (const char *key :
        {"MaxThreads", "MaxThreadsPerSite", "RetryTime", "RetryCount", "Timeout", "HidePassword",
            "MinimizeTray", "Passive", "ShowSiteStart", "TimeStamp", "UseDownloadPath", "LongLocalPaths"})
        QVERIFY2(b.engine.store.contains("Options", key), key);
    QVERIFY(b.engine.store.contains("Paths", "DownloadPath"));
    QVERIFY(!b.engine.store.contains("Options", "SystemTray"));
}

// Answers the options sheet once it is open: sets "Max. Threads" and closes with OK or Cancel.
static void answerOptionsSheet(const QString &maxThreads, bool ok)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        auto *sheet = qobject_cast<OptionsSheet *>(QApplication::activeModalWidget());
        if (!sheet)
            return;
        timer->stop();
        timer->deleteLater();
        sheet->generalPage()->maxThreadsEdit()->setText(maxThreads);
        if (ok)
            sheet->accept();
        else
            sheet->reject();
    });
    timer->start();
}

void MainFrameTest::optionsApplyOnlyOnOk()
{
    test::FrameBundle b;
    CMainFrame &frame = b.create();
    answerOptionsSheet(QStringLiteral("7"), false);
    frame.optionsCommand();
    QCOMPARE(b.engine.scheduler.maxThreads(), 10);
    QVERIFY(!b.engine.store.contains("Options", "MaxThreads"));

    answerOptionsSheet(QStringLiteral("7"), true);
    frame.optionsCommand();
    QCOMPARE(b.engine.scheduler.maxThreads(), 7);
    QCOMPARE(b.engine.store.readInt("Options", "MaxThreads", 0), 7);
}

void MainFrameTest::windowOptionsStayTheWindows()
{
    test::FrameBundle b;
    b.engine.store.writeInt("Options", "ShowSiteStart", 0);
    b.engine.store.writeInt("Options", "TimeStamp", 1);
    b.engine.store.writeInt("Options", "HidePassword", 0);
    b.engine.store.writeInt("Options", "MinimizeTray", 0);
    int dialogs = 0;
    b.options.runSiteDialog = [&dialogs](browse::CSiteDialog &) {
        ++dialogs;
        return 0;
    };
    CMainFrame &frame = b.create();
    frame.show();
    QTRY_VERIFY(frame.panesReady());
    QCOMPARE(dialogs, 0); // no site list on start
    answerOptionsSheet(QStringLiteral("4"), true);
    frame.optionsCommand();
    frame.close();
    b.frame.reset();
    QCOMPARE(b.engine.store.readInt("Options", "MaxThreads", 0), 4);
    QCOMPARE(b.engine.store.readInt("Options", "ShowSiteStart", 9), 0);
    QCOMPARE(b.engine.store.readInt("Options", "TimeStamp", 9), 1);
    QCOMPARE(b.engine.store.readInt("Options", "HidePassword", 9), 0);
    QCOMPARE(b.engine.store.readInt("Options", "MinimizeTray", 9), 0);
}

void MainFrameTest::downloadsFollowTheLocalPane()
{
    test::FrameBundle b;
    b.engine.store.writeInt("Options", "UseDownloadPath", 0);
    const std::filesystem::path workingDirectory = std::filesystem::current_path();
    CMainFrame &frame = b.create();
    QCOMPARE(frame.localPane()->directory(), b.engine.dir.path().string());
    std::filesystem::create_directories(b.engine.dir / "a");
    std::filesystem::create_directories(b.engine.dir / "b");

    frame.localPane()->changeDrive(QString::fromStdString((b.engine.dir / "a").string()));
    const std::int32_t first = frame.queueView()->addUrl(QStringLiteral("ftp://h/x/one.bin"), false);
    frame.localPane()->changeDrive(QString::fromStdString((b.engine.dir / "b").string()));
    const std::int32_t second = frame.queueView()->addUrl(QStringLiteral("ftp://h/x/two.bin"), false);
    QCOMPARE(
        core::snapshotOrVanished(b.engine.queue, first).localPath, (b.engine.dir / "a" / "one.bin").string());
    QCOMPARE(core::snapshotOrVanished(b.engine.queue, second).localPath,
        (b.engine.dir / "b" / "two.bin").string());
    QCOMPARE(b.engine.transferEngine.localFolder(), (b.engine.dir / "b").string());
    QCOMPARE(std::filesystem::current_path(), workingDirectory);
}

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
