// SPDX-License-Identifier: MIT
// The remote browser with exact server replies (a connection lent by hand, no worker), the addresses
// its drags show other programs, View File and the "File Transfer" window's byte count, and what it does
// while it holds no connection.
#include <filesystem>

#include <sys/stat.h>

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "browse/drag_text.h"
#include "browse/list_entry.h"
#include "browse/man_ftp_view.h"
#include "core/queue_list.h"
#include "engine/connection_lease.h"
#include "net/ftp_connection.h"
#include "support/ftp_script.h"
#include "support/offered_session.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "widgets/transfer_progress_dialog.h"

using namespace bw::browse;
using bw::test::greetAndLogIn;
using bw::test::ScriptedServer;

namespace {

constexpr int kLimitMs = 20000;

unsigned modeOf(const std::string &path)
{
    struct stat info
    {};

    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Adds an item for the scripted server's site to `queue` and offers `ftp` for it on `board`, logged in
// there as "u" with `password`, as a worker offers its session to the browser. Returns the item's id, 0
// when the login failed.
std::int32_t lendLoggedIn(bw::core::QueueList &queue, bw::engine::LeaseBoard &board,
    std::shared_ptr<bw::net::FtpConnection> &ftp, const ScriptedServer &server,
    const std::string &password = "p", int connectionId = 1)
{
    const std::int32_t id = queue.addItem(
        "ftp://u:" + password + "@127.0.0.1:" + std::to_string(server.port()), "", 0, -1, -1, -1, 1);
    const bw::test::OfferedSession offered = bw::test::offerSession(
        board, id, bw::net::FtpSite{"127.0.0.1", server.port(), "u", password, connectionId});
    ftp = offered.connection;
    queue.setStatus(id, bw::core::ItemStatus::StatusInactiveManualConnection); // as the worker does
    return id != 0 && offered.lease ? id : 0;
}

// The session offered for `id` went back to its job (or was never offered).
bool givenBack(const bw::engine::LeaseBoard &board, std::int32_t id)
{
    const auto lease = board.find(id);
    return !lease || lease->hasEnded();
}

} // namespace

class RemoteViewTest : public QObject
{
    Q_OBJECT

private slots:

    void publicAddressHasNoPassword_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("url");
        QTest::newRow("named user") << "joe"
                                    << "ftp://joe@h:21/d/f.txt";
        QTest::newRow("anonymous") << "anonymous"
                                   << "ftp://h:21/d/f.txt";
        QTest::newRow("anonymous, mixed case") << "AnonYmous"
                                               << "ftp://h:21/d/f.txt";
        QTest::newRow("anonymous prefix only") << "anonymous2"
                                               << "ftp://anonymous2@h:21/d/f.txt";
        QTest::newRow("no user") << ""
                                 << "ftp://h:21/d/f.txt";
    }

    void publicAddressHasNoPassword()
    {
        QFETCH(QString, user);
        QFETCH(QString, url);
        QCOMPARE(publicRemoteUrl(user.toStdString(), "h", 21, "/d/", "f.txt"), url);
        // An "@" in the path cannot be taken for the end of a login.
        QCOMPARE(publicRemoteUrl("jo@e", "::1", 21, "/a@b/", "c@d"),
            QStringLiteral("ftp://jo%40e@[::1]:21/a%40b/c%40d"));
        // A site browsed over SSH is named by its sftp address.
        QCOMPARE(publicRemoteUrl(user.toStdString(), "h", 22, "/~/d/", "f.txt", bw::core::SchemeSftpUpload),
            QString(url)
                .replace(QStringLiteral("ftp://"), QStringLiteral("sftp://"))
                .replace(QStringLiteral(":21/d/"), QStringLiteral(":22/~/d/")));
    }

    void detachedViewDoesNothing()
    {
        bw::core::QueueList queue;
        bw::engine::LeaseBoard board;
        CManFtpView view(queue, board);
        QCOMPARE(view.caption(), QStringLiteral("Remote Site"));
        QVERIFY(!view.isConnected());
        QVERIFY(!view.check());
        QVERIFY(!view.refreshListing(true));
        QCOMPARE(view.list()->rowCount(), 0);
        QVERIFY(view.directoryBox()->text().isEmpty());
        QVERIFY(!view.downloadFile("a.txt", "/tmp"));
        QVERIFY(!view.uploadFile("/etc/hostname"));
        QVERIFY(!view.canDownload());
        view.disconnect(false); // nothing to give back
        QCOMPARE(queue.count(), std::size_t(0));
        // Taking over an item that lent nothing leaves the view detached.
        const std::int32_t id = queue.addItem("ftp://u:p@h:21", "");
        view.takeOver(id);
        QVERIFY(!view.isConnected());
    }

    void pathlessPwdAndRefusedListing()
    {
        ScriptedServer server;
        greetAndLogIn(server);
        server.reply("PWD", "257 is your current location");
        bw::test::refusedListing(server);
        server.reply("QUIT", "221 Bye");
        server.start();

        bw::core::QueueList queue;
        bw::engine::LeaseBoard board;
        {
            std::shared_ptr<bw::net::FtpConnection> ftp;
            const std::int32_t id = lendLoggedIn(queue, board, ftp, server);
            QVERIFY(id != 0);
            QCOMPARE(bw::core::snapshotOrVanished(queue, id).status,
                bw::core::ItemStatus::StatusInactiveManualConnection);

            CManFtpView view(queue, board);
            QStringList log;
            connect(&view, &CManFtpView::logLine, &view,
                [&](unsigned, quint64, const QString &text) { log << text; });
            view.takeOver(id);
            QVERIFY(view.isConnected());
            QTRY_VERIFY_WITH_TIMEOUT(!view.isBusy(), kLimitMs);
            QCOMPARE(bw::core::snapshotOrVanished(queue, id).status,
                bw::core::ItemStatus::StatusActiveManualConnection);
            QCOMPARE(view.directoryBox()->text(), QStringLiteral("/"));
            QCOMPARE(view.currentDirectoryPath(), std::string("/"));
            QCOMPARE(view.list()->rowCount(), 1);
            QCOMPARE(view.list()->itemText(0, 0), QStringLiteral(".."));
            QCOMPARE(view.entry(0).group, 0);
            // The refused listing put nothing in the cache.
            QCOMPARE(view.controller().cachedListingCount(), std::size_t(0));
            QVERIFY(log.contains(QStringLiteral("PWD")));
            QVERIFY(log.contains(QStringLiteral("550 Listing refused")));

            view.disconnect(false);
            QCOMPARE(bw::core::snapshotOrVanished(queue, id).status,
                bw::core::ItemStatus::StatusInactiveManualConnection);
            QVERIFY(givenBack(board, id));
            QCOMPARE(view.list()->rowCount(), 0);
            ftp->quit();
        }
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), std::vector<std::string>());
    }

    void laterTakeOverReturnsTheEarlierItem()
    {
        ScriptedServer first;
        ScriptedServer second;
        for (ScriptedServer *server : {&first, &second}) {
            greetAndLogIn(*server);
            server->reply("PWD", "257 \"/pub\" is current");
            bw::test::passiveListing(*server, "-rw-r--r--   1 u g   1234 Mar  3  2001 a.txt\r\n");
            server->reply("QUIT", "221 Bye");
            server->start();
        }
        bw::core::QueueList queue;
        bw::engine::LeaseBoard board;
        std::shared_ptr<bw::net::FtpConnection> one;
        std::shared_ptr<bw::net::FtpConnection> two;
        const std::int32_t idOne = lendLoggedIn(queue, board, one, first);
        const std::int32_t idTwo = lendLoggedIn(queue, board, two, second, "p", 2);
        QVERIFY(idOne != 0 && idTwo != 0);
        {
            CManFtpView view(queue, board);
            view.takeOver(idOne);
            QTRY_VERIFY_WITH_TIMEOUT(!view.isBusy(), kLimitMs);
            QCOMPARE(view.controller().cachedListingCount(), std::size_t(1));
            QCOMPARE(view.directoryBox()->text(), QStringLiteral("/pub"));
            QCOMPARE(view.currentDirectoryPath(), std::string("/pub/"));
            QCOMPARE(view.list()->itemText(1, 0), QStringLiteral("a.txt"));
            QCOMPARE(view.list()->itemText(1, 1), QStringLiteral("1,234")); // grouped as the local pane does
            QCOMPARE(view.list()->itemText(1, 2), QStringLiteral("3/3/2001 12:00 AM"));

            view.takeOver(idTwo);
            QTRY_VERIFY_WITH_TIMEOUT(!view.isBusy(), kLimitMs);
            // The cache holds the second site's folder alone.
            QCOMPARE(view.controller().cachedListingCount(), std::size_t(1));
            QCOMPARE(bw::core::snapshotOrVanished(queue, idOne).status,
                bw::core::ItemStatus::StatusInactiveManualConnection);
            QCOMPARE(bw::core::snapshotOrVanished(queue, idTwo).status,
                bw::core::ItemStatus::StatusActiveManualConnection);
            QVERIFY(
                !givenBack(board, idOne) && !board.find(idOne)->isHeld()); // still offered: its worker waits
            QCOMPARE(view.itemId(), idTwo);
        } // destruction gives the held connection back
        QCOMPARE(bw::core::snapshotOrVanished(queue, idTwo).status,
            bw::core::ItemStatus::StatusInactiveManualConnection);
        QVERIFY(givenBack(board, idTwo));
        one->quit();
        two->quit();
        QVERIFY(first.waitFinished() && second.waitFinished());
        QCOMPARE(first.failures(), std::vector<std::string>());
        QCOMPARE(second.failures(), std::vector<std::string>());
    }

    // View File downloads on the browser's connection with the "File Transfer" window counting the
    // bytes, into a file only the user can read, and hands the desktop that file: never an address with
    // the login in it. The private folder goes with the browser.
    void viewFileCountsBytesAndOpensAPrivateCopy()
    {
        using Step = ScriptedServer::Step;
        const std::string body = bw::test::patternBytes(300000, 5);
        ScriptedServer server;
        greetAndLogIn(server, "secret");
        server.reply("PWD", "257 \"/pub\" is current");
        bw::test::passiveListing(server, "-rw-r--r--   1 u g 300000 Mar  3  2001 notes.txt\r\n");
        bw::test::startPassiveRetr(server, "notes.txt");
        server.add(Step::DataSend, body.substr(0, 4096));
        server.add(Step::DataHold);
        server.add(Step::DataSend, body.substr(4096));
        server.add(Step::DataClose);
        server.send("226 Done");
        server.reply("QUIT", "221 Bye");
        server.start();

        bw::core::QueueList queue;
        bw::engine::LeaseBoard board;
        std::shared_ptr<bw::net::FtpConnection> ftp;
        const std::int32_t id = lendLoggedIn(queue, board, ftp, server, "secret");
        QVERIFY(id != 0);
        std::string folder;
        {
            CManFtpView view(queue, board);
            QList<QUrl> opened;
            BrowsePrompts prompts;
            prompts.openUrl = [&](const QUrl &url) {
                opened << url;
            };
            view.setPrompts(prompts);
            view.takeOver(id);
            QTRY_VERIFY_WITH_TIMEOUT(!view.isBusy(), kLimitMs);
            QVERIFY(view.viewFolder().path().empty()); // made on first use only
            view.list()->selectRow(view.rowOf(QStringLiteral("notes.txt")));
            QVERIFY(view.viewSelection());
            QTRY_VERIFY_WITH_TIMEOUT(view.progressWindow()
                    && view.progressWindow()->statusText() == QStringLiteral("4,096 of 300,000 bytes"),
                kLimitMs);
            QCOMPARE(view.progressWindow()->windowTitle(), QStringLiteral("Transferring notes.txt"));
            QVERIFY(opened.isEmpty());
            server.release();
            QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, kLimitMs);
            QVERIFY(view.progressWindow() == nullptr);

            QVERIFY(opened[0].isLocalFile());
            QVERIFY(!opened[0].toString().contains(QStringLiteral("secret")));
            const std::string path = QFile::encodeName(opened[0].toLocalFile()).toStdString();
            folder = view.viewFolder().path();
            QVERIFY(!folder.empty());
            QCOMPARE(std::filesystem::path(path).filename().string(), std::string("notes.txt"));
            QCOMPARE(std::filesystem::path(path).parent_path().parent_path().string(), folder);
            QCOMPARE(bw::test::readFile(path), body);
            QCOMPARE(modeOf(path), 0600u);
            QCOMPARE(modeOf(std::filesystem::path(path).parent_path().string()), 0700u);
            QCOMPARE(modeOf(folder), 0700u);
        }
        QVERIFY(!std::filesystem::exists(folder));
        ftp->quit();
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), std::vector<std::string>());
    }

    // An aborted View File opens nothing and leaves no partial copy behind, also when the server ends
    // the transfer with success while Abort is being pressed.
    void abortedViewLeavesNothing()
    {
        using Step = ScriptedServer::Step;
        ScriptedServer server;
        greetAndLogIn(server);
        server.reply("PWD", "257 \"/\" is current");
        bw::test::passiveListing(server, "-rw-r--r--   1 u g 1000000 Mar  3  2001 big.log\r\n");
        bw::test::startPassiveRetr(server, "big.log");
        server.add(Step::DataSend, std::string(4096, 'x'));
        server.add(Step::DataHold); // until Abort is pressed
        server.add(Step::DataClose);
        server.send("226 Closing");
        server.reply("QUIT", "221 Bye");
        server.start();

        bw::core::QueueList queue;
        bw::engine::LeaseBoard board;
        std::shared_ptr<bw::net::FtpConnection> ftp;
        const std::int32_t id = lendLoggedIn(queue, board, ftp, server);
        QVERIFY(id != 0);
        {
            CManFtpView view(queue, board);
            int opened = 0;
            BrowsePrompts prompts;
            prompts.openUrl = [&](const QUrl &) {
                ++opened;
            };
            view.setPrompts(prompts);
            bool finished = false;
            connect(&view, &CManFtpView::transferFinished, &view, [&] { finished = true; });
            view.takeOver(id);
            QTRY_VERIFY_WITH_TIMEOUT(!view.isBusy(), kLimitMs);
            view.list()->selectRow(view.rowOf(QStringLiteral("big.log")));
            QVERIFY(view.viewSelection());
            QTRY_VERIFY_WITH_TIMEOUT(view.progressWindow()
                    && view.progressWindow()->statusText() == QStringLiteral("4,096 of 1,000,000 bytes"),
                kLimitMs);
            view.progressWindow()->abortButton()->click();
            server.release(); // the server closes its side and reports success, racing the abort
            QTRY_VERIFY_WITH_TIMEOUT(finished && !view.isBusy(), kLimitMs);
            QCOMPARE(opened, 0);
            // The private folder holds no file, only itself.
            QVERIFY(std::filesystem::is_empty(view.viewFolder().path()));
            QVERIFY(view.isConnected());
        }
        ftp->quit();
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), std::vector<std::string>());
    }
};

QTEST_MAIN(RemoteViewTest)
#include "remote_view_test.moc"
