// SPDX-License-Identifier: MIT
// The engine never waits for the window: while the window's thread is kept busy, a tree of 200 files
// comes down from the loopback vsftpd all the same, and once the window is free again its rows show
// every file complete. Needs the test servers (tests/servers/start.sh); fails without them.
#include <chrono>
#include <filesystem>
#include <set>
#include <string>

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
constexpr auto kBusyLimit = std::chrono::seconds(60);

// The tree's files (its folders have names too) the queue holds as finished, once it has nothing else left to
// do; -1 before then.
int finishedFiles(const core::QueueList &queue)
{
    std::set<std::string> finished;
    for (const core::QueueItem &item : queue.snapshot()) {
        if (!item.isDone())
            return -1;
        if (item.fileName.ends_with(".bin") && item.status == core::ItemStatus::StatusFinished)
            finished.insert(item.url);
    }
    return static_cast<int>(finished.size());
}

// The rows of one tab that show a file of the tree, and how many of them say `action`.
std::pair<int, int> fileRows(const TiledListCtrl *list, const char *action)
{
    std::pair<int, int> rows{0, 0};
    for (int row = 0; row < list->rowCount(); ++row) {
        if (!list->itemText(row, ColumnFile).endsWith(QLatin1String(".bin")))
            continue;
        rows.first += 1;
        rows.second += list->itemText(row, ColumnAction) == QLatin1String(action) ? 1 : 0;
    }
    return rows;
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

    QVERIFY(frame.queueView()->addUrl(QString::fromStdString(folder.url("tree/")), true) != 0);
    int finishedAtBusyEnd = -2; // -1: work left at the busy end
    QTimer::singleShot(0, &frame, [&] {
        // The window's thread does nothing else until the tree is down (at least kBusyTime, at most
        // kBusyLimit): no event is handled, no row drawn, no finished item leaves the queue.
        const Clock::time_point start = Clock::now();
        Clock::time_point look = start;
        for (int finished = 0; Clock::now() - start < kBusyLimit;) {
            if (Clock::now() < look)
                continue;
            finished = finishedFiles(b.engine.queue);
            if (finished == kFiles && Clock::now() - start >= kBusyTime)
                break;
            look = Clock::now() + std::chrono::milliseconds(20);
        }
        finishedAtBusyEnd = finishedFiles(b.engine.queue);
    });
    frame.startEngine();
    QTRY_VERIFY_WITH_TIMEOUT(finishedAtBusyEnd != -2, 2 * 60000);

    // The whole tree came down while the window could not answer.
    QCOMPARE(finishedAtBusyEnd, kFiles);
    QCOMPARE(filesBelow(b.engine.downloads()), kFiles);

    // The rows catch up: every file complete, nothing left queued, active or failed.
    const auto completeRows = [&] {
        return fileRows(frame.queueView()->list(QueueTab::Complete), "Complete");
    };
    QTRY_VERIFY2_WITH_TIMEOUT(completeRows() == std::make_pair(kFiles, kFiles),
        qPrintable(
            QStringLiteral("%1 file rows, %2 complete").arg(completeRows().first).arg(completeRows().second)),
        20000);
    QTRY_COMPARE_WITH_TIMEOUT(frame.queueView()->list(QueueTab::Queue)->rowCount(), 0, 20000);
    QCOMPARE(frame.queueView()->list(QueueTab::Active)->rowCount(), 0);
    QCOMPARE(frame.queueView()->list(QueueTab::Errors)->rowCount(), 0);
}

QTEST_MAIN(MainFrameEventsTest)
#include "main_frame_events_test.moc"
