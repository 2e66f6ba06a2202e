// SPDX-License-Identifier: MIT
// The window's manual-connection commands against the loopback vsftpd: the site list at start-up,
// Connect, the hand-over through the queue view, the "Manual Log", the enabling of the remote commands,
// Download and Upload, Disconnect, and the site file kept beside the test. Fails without the server.
// Also: the lent connection taken back by its job in the middle of a direct transfer (a scripted server).
#include <algorithm>
#include <filesystem>

#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "browse/site_dialog.h"
#include "core/queue_item.h"
#include "engine/queue_file.h"
#include "support/ftp_script.h"
#include "support/scripted_server.h"
#include "support/test_servers.h"
#include "ui/frame_fixture.h"
#include "ui/queue_view.h"
#include "widgets/tiled_list_ctrl.h"

using namespace bw;
using namespace bw::browse;
namespace fs = std::filesystem;

class MainFrameManualTest : public QObject
{
    Q_OBJECT

private slots:

    void manualSessionThroughTheWindow()
    {
        const test::FtpServer server = test::ftpServer();
        QVERIFY2(server.port != 0, "the test FTP server is not running (BW_TEST_FTP_PORT unset)");
        const std::string folderName = "h7-frame-" + std::to_string(::getpid());
        const fs::path folder = fs::path(server.root) / folderName;
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms::all);
        test::writeFile(folder / "remote.txt", "from the server");
        fs::permissions(folder / "remote.txt", fs::perms(0666));

        struct Cleanup
        {
            fs::path path;

            ~Cleanup()
            {
                std::error_code ignored;
                fs::remove_all(path, ignored);
            }
        } cleanup{folder};

        test::FrameBundle b;
        fs::create_directories(b.engine.dir / "local");
        b.engine.transferEngine.setLocalFolder((b.engine.dir / "local").string());
        test::writeFile(b.engine.dir / "local" / "local.txt", "from the desk");
        int dialogs = 0;
        b.options.runSiteDialog = [&](CSiteDialog &dialog) {
            ++dialogs;
            dialog.nameEdit()->setText(QStringLiteral("loopback"));
            dialog.addressEdit()->setText(QString::fromStdString(server.host));
            dialog.portEdit()->setText(QString::number(server.port));
            dialog.anonymousBox()->setChecked(false);
            dialog.userEdit()->setText(QString::fromStdString(server.user));
            dialog.passwordEdit()->setText(QString::fromStdString(server.password));
            dialog.addSite();
            dialog.connectSite();
            return dialog.result();
        };
        ui::CMainFrame &frame = b.create();
        CManFtpView *remote = frame.remotePane();
        CLocalView *local = frame.localPane();
        QVERIFY(remote && local);
        QVERIFY(frame.action("connect")->isEnabled());
        for (const char *name :
            {"disconnect", "temporaryDisconnect", "createRemoteFolder", "remoteDelete", "download", "upload"})
            QVERIFY2(!frame.action(name)->isEnabled(), name);

        // "Show site list on startup" is on by default: the first paint runs Connect.
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QTRY_COMPARE_WITH_TIMEOUT(dialogs, 1, 5000);
        QCOMPARE(frame.pathPane()->text(), QStringLiteral("Connecting..."));
        QCOMPARE(b.engine.queue.count(), std::size_t(1));
        const std::int32_t id = b.engine.queue.ids().front();
        QCOMPARE(core::snapshotOrVanished(b.engine.queue, id).localPath, std::string());
        SiteList saved;
        QVERIFY(saved.load(b.path("database.usr").toStdString(), {}));
        QCOMPARE(saved.count(), std::size_t(1));
        QCOMPARE(saved.at(0).name, std::string("loopback"));

        frame.startEngine();
        QTRY_VERIFY_WITH_TIMEOUT(remote->isConnected(), 20000);
        QCOMPARE(core::snapshotOrVanished(b.engine.queue, id).status,
            core::ItemStatus::StatusActiveManualConnection);
        QTRY_VERIFY_WITH_TIMEOUT(frame.action("disconnect")->isEnabled(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!remote->isBusy(), 20000); // the first listing
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("Connected"));
        // A folder typed in the path box is entered.
        remote->directoryBox()->setText(QString::fromStdString("/" + folderName));
        QTest::keyClick(remote->directoryBox(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(
            !remote->isBusy() && remote->rowOf(QStringLiteral("remote.txt")) >= 0, 20000);
        QVERIFY(frame.action("temporaryDisconnect")->isEnabled());
        QVERIFY(frame.action("createRemoteFolder")->isEnabled());
        QVERIFY(!frame.action("remoteDelete")->isEnabled());
        QVERIFY(!frame.action("download")->isEnabled());

        // Every protocol line of the lent connection is in the "Manual Log", none in the "Batch Log".
        bool sawPwd = false;
        for (int row = 0; row < frame.manualLog()->list()->rowCount(); ++row)
            sawPwd = sawPwd || frame.manualLog()->list()->itemText(row, 0).contains(QStringLiteral("PWD"));
        QVERIFY(sawPwd);

        BrowsePrompts prompts = BrowsePrompts::modalDialogs();
        prompts.askName = [&](QWidget *, const QString &, const QString &, const QString &) {
            return std::optional<QString>(QString::fromStdString("/" + folderName));
        };
        remote->setPrompts(prompts);
        QTRY_VERIFY_WITH_TIMEOUT(!remote->isBusy(), 20000);
        remote->changeDirectory();
        QTRY_VERIFY_WITH_TIMEOUT(!remote->isBusy(), 20000);
        const int row = remote->rowOf(QStringLiteral("remote.txt"));
        QVERIFY(row >= 0);
        remote->list()->selectRow(row);
        QVERIFY(frame.action("remoteDelete")->isEnabled());
        QVERIFY(frame.action("download")->isEnabled());
        frame.action("download")->trigger();
        // While the download runs, the commands that need the connection wait.
        QVERIFY(remote->isBusy());
        QVERIFY(!frame.action("download")->isEnabled());
        QVERIFY(!frame.action("createRemoteFolder")->isEnabled());
        QVERIFY(frame.action("disconnect")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!remote->isBusy(), 20000);
        QVERIFY(frame.action("createRemoteFolder")->isEnabled());
        QCOMPARE(test::readFile(b.engine.dir / "local" / "remote.txt"), std::string("from the server"));

        local->listDirectory();
        QVERIFY(!frame.action("upload")->isEnabled());
        local->list()->selectRow(local->rowOf(QStringLiteral("local.txt")));
        QVERIFY(frame.action("upload")->isEnabled());
        frame.action("upload")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!remote->isBusy(), 20000);
        QCOMPARE(test::readFile(folder / "local.txt"), std::string("from the desk"));
        QVERIFY(remote->rowOf(QStringLiteral("local.txt")) >= 0);

        frame.action("disconnect")->trigger();
        QVERIFY(!remote->isConnected());
        QVERIFY(frame.statusBar()->currentMessage().isEmpty());
        QCOMPARE(frame.pathPane()->text(), QString::fromStdString(b.engine.downloads().string()));
        QVERIFY(!frame.action("disconnect")->isEnabled());
        QVERIFY(!frame.action("download")->isEnabled());
        // The worker ends the item as a completed manual connection; the window's next full refresh then
        // takes it out of the queue (its "Complete" row may go with a later refresh of the same id).
        QList<core::ItemStatus> seen;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const core::ItemStatus status = core::snapshotOrVanished(b.engine.queue, id).status;
                if (seen.isEmpty() || seen.last() != status)
                    seen << status;
                return status == core::ItemStatus::StatusManualConnectionComplete
                    || !b.engine.queue.contains(id);
            }(),
            20000);
        for (const core::ItemStatus status : seen)
            QVERIFY2(status == core::ItemStatus::StatusInactiveManualConnection
                    || status == core::ItemStatus::StatusManualConnectionComplete
                    || status == core::ItemStatus::StatusUnknown,
                qPrintable(QString::number(static_cast<int>(status))));
    }

    // Whatever ends the job while the remote browser runs a direct transfer on its connection, the
    // browser stops the transfer, gives the connection back and detaches before the job goes on (and
    // may be deleted); its next commands touch nothing of the job's. A quit queues the download.
    void jobEndsDuringADirectTransfer_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Go stops the engine") << "go";
        QTest::newRow("the item is deleted") << "delete";
        QTest::newRow("the window closes") << "close";
    }

    void jobEndsDuringADirectTransfer()
    {
        QFETCH(QString, how);
        test::ScriptedServer server;
        test::greetAndLogIn(server);
        server.reply("PWD", "257 \"/\" is current");
        test::passiveListing(server, "-rw-r--r--   1 u g 1000000 Mar  3  2001 big.bin\r\n");
        test::startPassiveRetr(server, "big.bin");
        server.add(test::ScriptedServer::Step::DataSend, std::string(4096, 'x'));
        server.add(test::ScriptedServer::Step::DataHold); // the rest never comes
        // Released once the transfer was stopped: the job's QUIT then gets its answer at once.
        server.add(test::ScriptedServer::Step::DataClose);
        server.send("226 Closing");
        server.reply("QUIT", "221 Bye");
        server.start();

        test::FrameBundle b;
        const fs::path local = b.engine.dir / "local";
        fs::create_directories(local);
        const std::int32_t id = b.engine.queue.addItem(
            "ftp://u:p@127.0.0.1:" + std::to_string(server.port()), "", 0, -1, -1, -1, 1);
        QVERIFY(id != 0);
        ui::CMainFrame &frame = b.create();
        CManFtpView *remote = frame.remotePane();
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.startEngine();
        QTRY_VERIFY_WITH_TIMEOUT(remote->isConnected(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!remote->isBusy(), 20000);
        QCOMPARE(remote->rowOf(QStringLiteral("big.bin")), 1);

        QSignalSpy finished(remote, &CManFtpView::transferFinished);
        QSignalSpy changed(remote, &CManFtpView::connectionChanged);
        connect(remote, &CManFtpView::transferFinished, this, [&server] { server.release(); });
        QVERIFY(remote->downloadFile("big.bin", local.string()));
        QTRY_VERIFY_WITH_TIMEOUT(
            fs::exists(local / "big.bin.part") && fs::file_size(local / "big.bin.part") == 4096, 20000);
        QVERIFY(remote->isTransferring());

        if (how == QLatin1String("go")) {
            frame.action("go")->trigger();
        } else if (how == QLatin1String("delete")) {
            // The user selects the item's row in the queue and deletes it.
            ui::TiledListCtrl *rows = frame.queueView()->currentList();
            const int row = rows->findItemId(id);
            QVERIFY(row >= 0);
            rows->selectRow(row);
            QVERIFY(frame.action("delete")->isEnabled());
            frame.action("delete")->trigger();
        } else {
            frame.close();
            QVERIFY(frame.isClosed());
        }
        // The transfer stopped, the browser let go, and the job ended the item.
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(finished.at(0).at(1).toBool(), false);
        QTRY_VERIFY_WITH_TIMEOUT(!remote->isConnected() && !remote->isBusy(), 20000);
        QVERIFY(!changed.isEmpty() && !changed.last().at(0).toBool());
        QVERIFY(remote->connection() == nullptr);
        QVERIFY(remote->progressWindow() == nullptr);
        QVERIFY(!fs::exists(local / "big.bin")); // a download that created the file takes it away
        // ... unless the quit cut it short: its bytes stay, and the saved queue resumes from them.
        const bool quit = how == QLatin1String("close");
        QCOMPARE(fs::exists(local / "big.bin.part"), quit);
        if (quit) {
            QCOMPARE(fs::file_size(local / "big.bin.part"), std::uintmax_t(4096));
            core::QueueList saved;
            engine::loadQueueFile(b.engine.queueFile(), saved);
            const std::string url = "ftp://u:p@127.0.0.1:" + std::to_string(server.port()) + "/big.bin";
            const std::vector<std::int32_t> ids = saved.ids();
            QVERIFY(std::any_of(ids.begin(), ids.end(), [&](std::int32_t savedId) {
                const core::QueueItem item = core::snapshotOrVanished(saved, savedId);
                return item.url == url && item.localPath == (local / "big.bin").string() && item.passive;
            }));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!b.engine.queue.contains(id)
                || !core::isInProgressStatus(core::snapshotOrVanished(b.engine.queue, id).status),
            20000);
        if (how != QLatin1String("delete")) {
            b.engine.scheduler.stop();
            QTRY_VERIFY_WITH_TIMEOUT(b.engine.scheduler.waitUntilStoppedFor(10), 20000);
        }
        // The job may be gone now: the browser's commands must not reach its connection.
        QVERIFY(!remote->check());
        QVERIFY(!remote->refreshListing(true));
        QVERIFY(!remote->downloadFile("big.bin", local.string()));
        remote->disconnect(false);
    }
};

QTEST_MAIN(MainFrameManualTest)
#include "main_frame_manual_test.moc"
