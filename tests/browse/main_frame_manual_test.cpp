// SPDX-License-Identifier: MIT
// The window's manual-connection commands against the loopback vsftpd: the site list at start-up,
// Connect, the hand-over through the queue view, the "Manual Log", the enabling of the remote commands,
// Download and Upload, Disconnect, and the site file kept beside the test. Fails without the server.
#include <filesystem>

#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "browse/site_dialog.h"
#include "core/queue_item.h"
#include "support/test_servers.h"
#include "ui/frame_fixture.h"
#include "ui/queue_view.h"
#include "ui/tiled_list_ctrl.h"

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
        fs::current_path(b.engine.dir / "local");
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
        QCOMPARE(b.engine.queue.localPath(id), std::string());
        SiteList saved;
        QVERIFY(saved.load(b.path("database.usr").toStdString(), {}));
        QCOMPARE(saved.count(), std::size_t(1));
        QCOMPARE(saved.at(0).name, std::string("loopback"));

        frame.startEngine();
        QTRY_VERIFY_WITH_TIMEOUT(remote->isConnected(), 20000);
        QCOMPARE(b.engine.queue.status(id), int(core::StatusActiveManualConnection));
        QTRY_VERIFY_WITH_TIMEOUT(frame.action("disconnect")->isEnabled(), 5000);
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
        prompts.askName = [&](QWidget *, const QString &) {
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
        QCOMPARE(frame.pathPane()->text(), QString::fromStdString(b.engine.downloads().string()));
        QVERIFY(!frame.action("disconnect")->isEnabled());
        QVERIFY(!frame.action("download")->isEnabled());
        // The worker ends the item as a completed manual connection; the window's next full refresh then
        // takes it out of the queue (its "Complete" row may go with a later refresh of the same id).
        QList<int> seen;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const int status = b.engine.queue.status(id);
                if (seen.isEmpty() || seen.last() != status)
                    seen << status;
                return status == core::StatusManualConnectionComplete || !b.engine.queue.contains(id);
            }(),
            20000);
        for (int status : seen)
            QVERIFY2(status == core::StatusInactiveManualConnection
                    || status == core::StatusManualConnectionComplete || status == core::StatusUnknown,
                qPrintable(QString::number(status)));
    }
};

QTEST_MAIN(MainFrameManualTest)
#include "main_frame_manual_test.moc"
