// SPDX-License-Identifier: MIT
// The manual-connection controller: names that would break a command line are refused before anything
// is sent, the job's recall makes it let go, and its end cuts a running command short.
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "browse/control_line_text.h"
#include "browse/man_ftp_view.h"
#include "browse/manual_connection_controller.h"
#include "core/queue_list.h"
#include "engine/connection_lease.h"
#include "net/ftp_connection.h"
#include "support/ftp_script.h"
#include "support/offered_session.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

using namespace bw::browse;
using bw::test::greetAndLogIn;
using bw::test::ScriptedServer;
namespace fs = std::filesystem;

namespace {

constexpr int kLimitMs = 20000;

std::string site(const ScriptedServer &server)
{
    return "ftp://u:p@127.0.0.1:" + std::to_string(server.port());
}

} // namespace

class ManualConnectionControllerTest : public QObject
{
    Q_OBJECT

private slots:

    void controlLineText()
    {
        const struct
        {
            std::string text;
            bool fits;
            const char *shown;
        } cases[] = {
            {"plain name.txt", true, "plain name.txt"},
            {"", true, ""},
            {"a\r\nDELE x", false, "a\\r\\nDELE x"},
            {"line\nfeed", false, "line\\nfeed"},
            {"carriage\rreturn", false, "carriage\\rreturn"},
            {std::string("nul\0byte", 8), false, "nul\\0byte"},
        };

        for (const auto &c : cases) {
            QCOMPARE(fitsControlLine(c.text), c.fits);
            QCOMPARE(visibleControlText(c.text), QString::fromLatin1(c.shown));
        }
    }

    // Every pane command passes the controller: none sends a name with CR, LF or NUL, and each says so
    // in the "Manual Log". The server sees the login, the first listing, one safe command and QUIT.
    void namesWithLineBreaksNeverReachTheServer()
    {
        ScriptedServer server;
        greetAndLogIn(server);
        server.reply("PWD", "257 \"/\" is current");
        bw::test::refusedListing(server);
        server.reply("mkd safe", "257 Made");
        server.reply("QUIT", "221 Bye");
        server.start();

        bw::test::TempDir dir;
        const fs::path evil = dir / "a\r\nDELE x";
        bw::test::writeFile(evil, "bytes");

        bw::core::QueueList queue;
        bw::engine::LeaseBoard board;
        const std::int32_t id = queue.addItem(site(server), "", 0, -1, -1, -1, 1);
        const auto offered = bw::test::offerSession(board, id, bw::test::scriptedSite(server));
        QVERIFY(offered.lease);
        bw::net::FtpConnection &ftp = *offered.connection;
        {
            CManFtpView view(queue, board);
            QStringList log;
            connect(&view, &CManFtpView::logLine, &view,
                [&](unsigned, quint64, const QString &text) { log << text; });
            view.takeOver(id);
            QTRY_VERIFY_WITH_TIMEOUT(!view.isBusy(), kLimitMs);

            // The local file of the issue: uploaded from the local pane, it would send a DELE. A name with
            // a control character is no name to give a file on any server: the pane refuses it first.
            QVERIFY(!view.uploadFile(evil.string()));
            QVERIFY(!view.isBusy());
            QCOMPARE(log.filter(QStringLiteral("Not uploaded: \"%1\" names no file.")
                                    .arg(QString::fromStdString(evil.string())))
                         .size(),
                1);

            ManualConnectionController &controller = view.controller();
            auto abort = std::make_shared<std::atomic<bool>>(false);

            const struct
            {
                const char *name;
                std::function<bool()> command;
            } cases[] = {
                {"make dir",
                    [&] {
                        return controller.makeDirectory("new\r\nDELE x");
                    }},
                {"change dir",
                    [&] {
                        return controller.changeDirectory("/pub\nDELE x");
                    }},
                {"rename from",
                    [&] {
                        return controller.rename("a\rb", "c");
                    }},
                {"rename to",
                    [&] {
                        return controller.rename("a", "b\r\nDELE x");
                    }},
                {"delete",
                    [&] {
                        return controller.remove({"fine.txt", "x\r\nRMD /"});
                    }},
                {"download",
                    [&] {
                        return controller.download("f\nDELE x", "/nowhere/f", 0, abort);
                    }},
                {"upload",
                    [&] {
                        return controller.upload(evil.string(), "a\r\nDELE x", abort);
                    }},
                {"nul",
                    [&] {
                        return controller.makeDirectory(std::string("a\0b", 3));
                    }},
            };

            for (const auto &c : cases) {
                const qsizetype before = log.size();
                QVERIFY2(!c.command(), c.name);
                QVERIFY2(!controller.isBusy(), c.name);
                QVERIFY2(
                    log.size() == before + 1 && log.last().startsWith(QStringLiteral("Refused: ")), c.name);
            }
            // A safe name goes through.
            QVERIFY(controller.makeDirectory("safe"));
            QTRY_VERIFY_WITH_TIMEOUT(!view.isBusy(), kLimitMs);
            view.disconnect(false);
        }
        ftp.quit();
        QVERIFY(server.waitFinished());
        QCOMPARE(server.failures(), std::vector<std::string>());
        QCOMPARE(server.received(),
            std::vector<std::string>({"USER u", "PASS p", "PWD", "PASV", "LIST", "mkd safe", "QUIT"}));
    }

    // The job must stop while the controller holds its connection (idle): the controller lets go on
    // its own thread, says so, and the pane detaches.
    void recallMakesAnIdleControllerLetGo()
    {
        bw::core::QueueList queue;
        bw::engine::LeaseBoard board;
        const std::int32_t id = queue.addItem("ftp://u:p@127.0.0.1:21", "");
        // Not connected: nothing is sent while idle.
        const auto never = bw::test::offerSession(board, id, bw::net::FtpSite{}, false);
        ManualConnectionController controller(queue, board);
        QStringList log;
        connect(&controller, &ManualConnectionController::logLine, this,
            [&](unsigned, const QString &text) { log << text; });
        QSignalSpy detached(&controller, &ManualConnectionController::detached);
        QVERIFY(controller.attach(id));
        QVERIFY(controller.isAttached());
        QVERIFY(controller.connection() != nullptr);
        QVERIFY(&static_cast<bw::net::FtpSession *>(controller.connection())->connection()
            == never.connection.get());

        never.lease->recall(bw::net::StopByItem); // held: the job has to wait for the hand-back
        // The log line comes from the controller's thread, queued, before the hand-back.
        QTRY_VERIFY_WITH_TIMEOUT(
            log.contains(QStringLiteral("The manual connection was taken back.")), kLimitMs);
        QTRY_COMPARE_WITH_TIMEOUT(detached.size(), 1, kLimitMs);
        QCOMPARE(detached.at(0).at(0).toInt(), int(bw::core::ItemStatus::StatusInactiveManualConnection));
        QVERIFY(!controller.isAttached());
        const bw::engine::LeaseOutcome outcome = never.lease->wait(std::chrono::milliseconds(0));
        QVERIFY(outcome.end == bw::engine::LeaseEnd::Returned);
        QCOMPARE(outcome.status, std::int32_t(bw::core::ItemStatus::StatusInactiveManualConnection));
        QVERIFY(!controller.refresh(true)); // nothing attached: nothing queued
        QVERIFY(!controller.isBusy());
    }

    // Destroyed while a command waits for a server that does not answer: the wait is cut short at
    // once, the connection goes back, and its item fails (the connection is out of step now).
    void destroyedWhileACommandRuns()
    {
        ScriptedServer server;
        greetAndLogIn(server);
        server.expect("PWD");
        server.hold();
        server.start();

        bw::core::QueueList queue;
        bw::engine::LeaseBoard board;
        const std::int32_t id = queue.addItem(site(server), "", 0, -1, -1, 60, 1);
        bw::net::FtpSessionOptions options;
        options.timeoutSeconds = 60;
        const auto offered = bw::test::offerSession(board, id, bw::test::scriptedSite(server), true, options);
        QVERIFY(offered.lease);
        auto controller = std::make_unique<ManualConnectionController>(queue, board);
        QVERIFY(controller->attach(id));
        QVERIFY(controller->refresh(false));
        QTRY_VERIFY_WITH_TIMEOUT(server.received().size() == 3, kLimitMs); // PWD is out
        QElapsedTimer clock;
        clock.start();
        controller.reset();
        QVERIFY2(clock.elapsed() < 10000, "the destructor waited for the server");
        const bw::engine::LeaseOutcome outcome = offered.lease->wait(std::chrono::milliseconds(0));
        QVERIFY(outcome.end == bw::engine::LeaseEnd::Returned);
        QCOMPARE(outcome.status, std::int32_t(bw::core::ItemStatus::StatusFailedManualConnection));
        QCOMPARE(bw::core::snapshotOrVanished(queue, id).status,
            bw::core::ItemStatus::StatusFailedManualConnection);
        server.release();
    }
};

QTEST_MAIN(ManualConnectionControllerTest)
#include "manual_connection_controller_test.moc"
