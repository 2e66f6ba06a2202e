// SPDX-License-Identifier: MIT
// End to end through the window: a URL added with Add URL is downloaded from the loopback vsftpd by the
// scheduler's workers, its row reaches "Complete", and the file arrives byte for byte. Needs the test
// servers (tests/servers/start.sh); fails without them.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QtTest>

#include "engine/queue_file.h"
#include "frame_fixture.h"
#include "support/server_folder.h"
#include "support/temp_dir.h"
#include "ui/queue_view.h"
#include "widgets/ctrl_list_view.h"
#include "widgets/size_text.h"
#include "widgets/tiled_list_ctrl.h"

using namespace bw;
using namespace bw::ui;

namespace {

// What the window's Batch Log and the diagnostic log hold, for the message of a failed wait: a stall
// is only understood from the commands, replies and status lines that led to it.
std::string logsOf(CMainFrame &frame, const std::filesystem::path &diagnosticLog)
{
    std::ostringstream out;
    out << "\n--- Batch Log ---\n";
    const TiledListCtrl *batch = frame.batchLog()->list();
    for (int row = 0; row < batch->rowCount(); ++row) {
        for (int column = 0; column < batch->columnCount(); ++column)
            out << batch->itemText(row, column).toStdString()
                << (column + 1 < batch->columnCount() ? " | " : "");
        out << "\n";
    }
    out << "--- " << diagnosticLog.filename().string() << " ---\n";
    std::ifstream file(diagnosticLog);
    out << file.rdbuf();
    return out.str();
}

} // namespace

class MainFrameFtpTest : public QObject
{
    Q_OBJECT

private slots:
    void addUrlDownloadsFromServer();
};

void MainFrameFtpTest::addUrlDownloadsFromServer()
{
    const test::FtpServer server = test::ftpServer();
    QVERIFY2(test::isUsable(server), test::kFtpServerMissing);
    const test::ServerFolder folder(server, "window");
    const std::string content = test::patternBytes(3 * 1024 * 1024 + 17, 6);
    test::writeFile(folder / "payload.bin", content);

    test::FrameBundle b;
    // Time-stamped log lines show which wait a stall sat in.
    b.engine.store.writeInt("Options", "TimeStamp", 1);
    CMainFrame &frame = b.create();
    const QString url = QString::fromStdString(folder.url("payload.bin"));
    UserPrompts prompts = UserPrompts::modalDialogs();
    QString offered;
    prompts.askUrl = [&](QWidget *, const QString &example) {
        offered = example;
        return std::optional<QString>(url);
    };
    frame.setPrompts(prompts);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.startEngine();

    frame.addUrlCommand();
    QCOMPARE(offered, QString::fromLatin1(CMainFrame::kExampleUrl));
    QCOMPARE(b.engine.queue.count(), std::size_t(1));
    const std::int32_t id = b.engine.queue.ids().front();

    TiledListCtrl *complete = frame.queueView()->list(QueueTab::Complete);
    // Stop waiting as soon as the item ends in a failure, and say which.
    const auto failed = [&] {
        const int status = static_cast<int>(core::snapshotOrVanished(b.engine.queue, id).status);
        return b.engine.queue.contains(id) && status > 2 && status < 128 && status != 17;
    };
    // The check below names the status when neither happened.
    (void)QTest::qWaitFor([&] { return complete->findItemId(id) >= 0 || failed(); }, 30000);
    QVERIFY2(complete->findItemId(id) >= 0,
        (core::statusTextWithDetail(core::snapshotOrVanished(b.engine.queue, id)) + " bytes "
            + std::to_string(core::snapshotOrVanished(b.engine.queue, id).bytesDone)
            + logsOf(frame, b.engine.dir / "Bellwick.log"))
            .c_str());
    QCOMPARE(complete->itemText(complete->findItemId(id), ColumnAction), QStringLiteral("Complete"));
    // The row shows what arrived: the whole file.
    const QString size = bw::widgets::sizeText(static_cast<std::int64_t>(content.size()));
    QCOMPARE(complete->itemText(complete->findItemId(id), ColumnBytes), size + QStringLiteral(" (100%)"));
    QCOMPARE(complete->itemText(complete->findItemId(id), ColumnTotal), size);
    QVERIFY(test::readFile(b.engine.downloads() / "payload.bin") == content);

    // The finished item leaves the queue at the next full refresh, and the autosave drops it from the file.
    QTRY_VERIFY_WITH_TIMEOUT(!b.engine.queue.contains(id), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            core::QueueList reloaded;
            const auto result = engine::loadQueueFile(b.engine.queueFile(), reloaded);
            return result.opened && result.declaredCount == 0;
        }(),
        10000);
}

QTEST_MAIN(MainFrameFtpTest)
#include "main_frame_ftp_test.moc"
