// SPDX-License-Identifier: MIT
// The engine never waits for the window: while the window's thread is kept busy, a tree of 200 files
// comes down from the loopback vsftpd all the same, and once the window is free again its rows show
// every file complete. Needs the test servers (tests/servers/start.sh); fails without them.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include <QScopeGuard>
#include <QtTest>

#include "frame_fixture.h"
#include "support/server_folder.h"
#include "support/temp_dir.h"
#include "ui/queue_view.h"
#include "widgets/tiled_list_ctrl.h"

using namespace bw;
using namespace bw::ui;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFolders = 4;
constexpr int kFilesPerFolder = 50;
constexpr int kFiles = kFolders * kFilesPerFolder;
constexpr auto kBusyTime = std::chrono::seconds(5);

// The files of the queue's items that are finished, by item id (a watcher thread reads them while the
// window's thread cannot).
std::set<std::int32_t> finishedFiles(const core::QueueList &queue)
{
    std::set<std::int32_t> ids;
    for (const core::QueueItem &item : queue.snapshot()) {
        if (!item.fileName.empty() && item.status == core::ItemStatus::StatusFinished)
            ids.insert(item.id);
    }
    return ids;
}

int filesBelow(const std::filesystem::path &root)
{
    int count = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root))
        count += entry.is_regular_file() ? 1 : 0;
    return count;
}

} // namespace

class MainFrameEventsTest : public QObject
{
    Q_OBJECT

private slots:
    void engineRunsOnWhileTheWindowIsBusy();
};

void MainFrameEventsTest::engineRunsOnWhileTheWindowIsBusy()
{
    const test::FtpServer server = test::ftpServer();
    QVERIFY2(test::isUsable(server), test::kFtpServerMissing);
    const test::ServerFolder folder(server, "busy-window");
    for (int f = 0; f < kFolders; ++f) {
        for (int n = 0; n < kFilesPerFolder; ++n) {
            const std::string name = "tree/d" + std::to_string(f) + "/f" + std::to_string(n) + ".bin";
            std::filesystem::create_directories((folder / name).parent_path());
            test::writeFile(folder / name, test::patternBytes(1000 + n, static_cast<unsigned>(f)));
        }
    }

    test::FrameBundle b;
    CMainFrame &frame = b.create();
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTRY_VERIFY(frame.panesReady());

    // Watches the queue from a thread of its own: when did the last file finish? Finished items leave
    // the queue at the window's next full refresh, so the watcher keeps every one it has seen.
    std::atomic<bool> watching{true};
    std::atomic<Clock::rep> engineEnd{0};
    std::set<std::int32_t> fileIds;
    std::thread watcher([&] {
        while (watching.load() && engineEnd.load() == 0) {
            fileIds.merge(finishedFiles(b.engine.queue));
            if (static_cast<int>(fileIds.size()) == kFiles)
                engineEnd = Clock::now().time_since_epoch().count();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto stopWatching = qScopeGuard([&] {
        watching = false;
        watcher.join();
    });

    int finishedAtBusyEnd = -1;
    Clock::time_point busyEnd;
    QTimer::singleShot(0, &frame, [&] {
        // The window's thread does nothing else for a while: no event is handled, no row drawn.
        const Clock::time_point until = Clock::now() + kBusyTime;
        while (Clock::now() < until) {}
        busyEnd = Clock::now();
        finishedAtBusyEnd = static_cast<int>(finishedFiles(b.engine.queue).size());
    });
    QVERIFY(frame.queueView()->addUrl(QString::fromStdString(folder.url("tree/")), true) != 0);
    frame.startEngine();
    QTRY_VERIFY_WITH_TIMEOUT(finishedAtBusyEnd >= 0, 30000);

    // Nearly all the tree came down while the window could not answer.
    QVERIFY2(finishedAtBusyEnd >= kFiles * 9 / 10, qPrintable(QString::number(finishedAtBusyEnd)));
    QTRY_VERIFY_WITH_TIMEOUT(engineEnd.load() != 0, 60000); // fileIds is the watcher's until then
    if (finishedAtBusyEnd == kFiles)
        QVERIFY(Clock::time_point(Clock::duration(engineEnd.load())) <= busyEnd);
    QCOMPARE(filesBelow(b.engine.downloads()), kFiles);

    // The rows catch up: every file complete, nothing left queued, active or failed.
    TiledListCtrl *complete = frame.queueView()->list(QueueTab::Complete);
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(fileIds.begin(), fileIds.end(),
                                 [&](std::int32_t id) { return complete->findItemId(id) >= 0; }),
        20000);
    for (const std::int32_t id : fileIds)
        QCOMPARE(complete->itemText(complete->findItemId(id), ColumnAction), QStringLiteral("Complete"));
    QTRY_COMPARE_WITH_TIMEOUT(frame.queueView()->list(QueueTab::Queue)->rowCount(), 0, 20000);
    QCOMPARE(frame.queueView()->list(QueueTab::Active)->rowCount(), 0);
    QCOMPARE(frame.queueView()->list(QueueTab::Errors)->rowCount(), 0);
}

QTEST_MAIN(MainFrameEventsTest)
#include "main_frame_events_test.moc"
