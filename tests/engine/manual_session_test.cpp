// SPDX-License-Identifier: MIT
// A manual download stopped by the window (Abort), by a disconnect (the session goes back) and by the
// end of the session (the window closes), over FTP and FTPS, passive and active, before the data flows,
// in the middle of the file and at its last bytes: each ends promptly, and never leaves part of a file.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/queue_item.h"
#include "engine/connection_lease.h"
#include "engine/manual_session.h"
#include "net/speed_limits.h"
#include "support/ftp_script.h"
#include "support/offered_session.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "support/tls_test_servers.h"
#include "support/wait_until.h"

namespace bw::engine {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

enum class Server
{
    Plain,
    ExplicitTls,
    ImplicitTls,
    Scripted, // passive, plain: sends 4096 bytes, then holds until released
};

enum class Point
{
    BeforeData, // the stop comes as the command is queued
    MidFile,
    LastBytes, // every byte is in, the closing reply not yet read
};

enum class Stop
{
    Abort, // the window's Abort: the session stays for the next command
    Disconnect, // the session goes back to its job
    End, // the window closes
};

struct StopCase
{
    Server server;
    bool passive;
    Point point;
    Stop stop;
};

constexpr std::int64_t kFileBytes = 32 << 20;
constexpr std::int64_t kScriptedBytes = 4096;
const std::string kRemoteName = "manual-stop-" + std::to_string(::getpid()) + ".bin";

// What the session reported, from its thread.
struct Reports
{
    std::mutex mutex;
    bool reached = false; // guarded by mutex: the transfer stands at the case's point
    bool finished = false; // guarded by mutex
    bool completed = false; // guarded by mutex
    int detachedStatus = 0; // guarded by mutex

    template <typename F>
    bool read(F f)
    {
        std::lock_guard lock{mutex};
        return f();
    }
};

struct Site
{
    net::FtpSite site;
    std::string root;
};

Site siteOf(Server server, test::TempDir &emptyFolder, test::ScriptedServer &scripted)
{
    if (server == Server::Scripted)
        return {test::scriptedSite(scripted), {}};
    if (server == Server::Plain) {
        const test::FtpServer ftp = test::ftpServer();
        return {net::FtpSite{ftp.host, ftp.port, ftp.user, ftp.password, 1}, ftp.root};
    }
    const test::TlsServers tls = test::tlsServers();
    test::trustOnly(tls.caFile, emptyFolder.path().string());
    const bool implicit = server == Server::ImplicitTls;
    net::FtpSite site{"127.0.0.1", implicit ? tls.ftpsPort : tls.ftpesPort, tls.ftpUser, tls.ftpPassword, 1};
    site.security = implicit ? net::FtpSecurity::ImplicitTls : net::FtpSecurity::ExplicitTls;
    return {site, tls.ftpsRoot};
}

class ManualTransferStopTest : public testing::TestWithParam<StopCase>
{};

TEST_P(ManualTransferStopTest, EndsPromptlyAndLeavesNoPartOfTheFile)
{
    const StopCase &c = GetParam();
    test::TempDir dir;
    test::TempDir emptyFolder;
    test::ScriptedServer scripted;
    if (c.server == Server::Scripted) {
        test::greetAndLogIn(scripted);
        test::startPassiveRetr(scripted, kRemoteName);
        scripted.add(test::ScriptedServer::Step::DataSend, std::string(kScriptedBytes, 'h'));
        scripted.add(test::ScriptedServer::Step::DataHold);
        scripted.add(test::ScriptedServer::Step::DataClose);
        scripted.send("226 Closing");
        scripted.start();
    }
    const Site site = siteOf(c.server, emptyFolder, scripted);
    ASSERT_NE(site.site.port, 0) << "the test servers are needed";
    if (!site.root.empty()) {
        const fs::path remote = fs::path(site.root) / kRemoteName;
        if (!fs::exists(remote) || fs::file_size(remote) != kFileBytes)
            test::writeFile(remote, test::patternBytes(kFileBytes, 5));
        fs::permissions(remote, fs::perms(0644));
    }
    const std::int64_t total = c.server == Server::Scripted ? 1000000 : kFileBytes;

    LeaseBoard board;
    net::FtpSessionOptions options;
    options.passive = c.passive;
    const test::OfferedSession offered = test::offerSession(board, 1, site.site, true, options);
    ASSERT_NE(offered.lease, nullptr) << "login failed";
    // Slow enough that the middle of the file is seen.
    net::SpeedLimits limits;
    limits.setMaxKBps(64000);
    offered.connection->dataConnection().setSpeedLimits(&limits);

    Reports reports;
    const auto stopRequested = [&] {
        return offered.connection->isStopRequested()
            || offered.connection->dataConnection().isStopRequested();
    };
    ManualSessionEvents events;
    events.transferProgress = [&](int, std::int64_t doneBytes) {
        const bool there =
            c.point == Point::MidFile ? doneBytes > 0 && doneBytes < total : doneBytes == total;
        if (c.point == Point::BeforeData || !there || reports.read([&] { return reports.reached; }))
            return;
        reports.read([&] { return reports.reached = true; });
        // Holds the transfer at this point until the stop reaches the connection.
        EXPECT_TRUE(test::waitUntil(stopRequested, 10s));
    };
    events.transferFinished = [&](const std::string &, bool completed) {
        reports.read([&] {
            reports.completed = completed;
            return reports.finished = true;
        });
    };
    events.detached = [&](std::int32_t status) {
        reports.read([&] { return reports.detachedStatus = status; });
    };
    auto session = std::make_unique<ManualSession>(board, nullptr, events);
    ASSERT_TRUE(session->attach(1));

    const fs::path local = dir / "copy.bin";
    auto abort = std::make_shared<std::atomic<bool>>(false);
    ASSERT_TRUE(session->download(kRemoteName, local.string(), static_cast<std::uint64_t>(total), abort));
    if (c.point != Point::BeforeData) {
        ASSERT_TRUE(test::waitUntil([&] { return reports.read([&] { return reports.reached; }); }, 20s));
    }

    const auto started = std::chrono::steady_clock::now();
    if (c.stop == Stop::Abort) {
        abort->store(true);
        session->abortTransfer();
    } else if (c.stop == Stop::Disconnect) {
        session->handBack(static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection));
    }
    if (c.server == Server::Scripted)
        scripted.release(); // the server closes its side and reports success, racing the stop
    if (c.stop == Stop::End) {
        session.reset();
    } else {
        ASSERT_TRUE(test::waitUntil([&] { return reports.read([&] { return reports.finished; }); }, 20s));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the stop was not prompt";

    // A stop before the last bytes never completes; the file is whole or gone, never a part.
    const bool completed = reports.read([&] { return reports.completed; });
    if (c.point != Point::LastBytes) {
        EXPECT_FALSE(completed);
    }
    if (completed) {
        EXPECT_EQ(fs::file_size(local), static_cast<std::uintmax_t>(total));
    } else {
        EXPECT_FALSE(fs::exists(local));
    }

    if (c.stop == Stop::Abort) {
        EXPECT_TRUE(session->isAttached()); // the session stays for the next command
        ASSERT_TRUE(test::waitUntil([&] { return session->isIdle(); }, 20s));
        EXPECT_TRUE(
            session->handBack(static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection)));
    }
    if (session) {
        ASSERT_TRUE(test::waitUntil([&] { return !session->isAttached(); }, 20s));
    }
    const LeaseOutcome outcome = offered.lease->wait(0ms);
    EXPECT_EQ(outcome.end, LeaseEnd::Returned);
    // Cut short while it ran, the session is out of step: its item fails and the job logs in afresh. An
    // end as the command is queued may come before it runs, or just after it started.
    const auto failed = static_cast<std::int32_t>(core::ItemStatus::StatusFailedManualConnection);
    const auto inactive = static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection);
    if (c.stop != Stop::End) {
        EXPECT_EQ(outcome.status, inactive);
    } else if (c.point != Point::BeforeData) {
        EXPECT_EQ(outcome.status, failed);
    } else {
        EXPECT_TRUE(outcome.status == failed || outcome.status == inactive) << outcome.status;
    }
    session.reset();

    if (c.server == Server::Scripted) {
        ASSERT_TRUE(scripted.waitFinished());
        EXPECT_EQ(scripted.received(),
            std::vector<std::string>({"USER u", "PASS p", "TYPE I", "PASV", "RETR " + kRemoteName}));
    } else {
        offered.connection->disconnect(net::StopByEngine);
    }
}

std::vector<StopCase> allCases()
{
    std::vector<StopCase> cases;
    for (Server server : {Server::Plain, Server::ExplicitTls, Server::ImplicitTls})
        for (bool passive : {true, false})
            for (Point point : {Point::BeforeData, Point::MidFile, Point::LastBytes})
                for (Stop stop : {Stop::Abort, Stop::Disconnect, Stop::End})
                    cases.push_back({server, passive, point, stop});
    for (Stop stop : {Stop::Abort, Stop::Disconnect, Stop::End})
        cases.push_back({Server::Scripted, true, Point::MidFile, stop});
    return cases;
}

std::string caseName(const testing::TestParamInfo<StopCase> &param)
{
    const StopCase &c = param.param;
    const char *servers[] = {"Ftp", "Ftpes", "Ftps", "Scripted"};
    const char *points[] = {"BeforeData", "MidFile", "LastBytes"};
    const char *stops[] = {"Abort", "Disconnect", "End"};
    return std::string(servers[int(c.server)]) + (c.passive ? "Passive" : "Active") + points[int(c.point)]
        + stops[int(c.stop)];
}

INSTANTIATE_TEST_SUITE_P(Cases, ManualTransferStopTest, testing::ValuesIn(allCases()), caseName);

// A direct download to a name the user's file has: the file changes only with Overwrite, and then only
// by a complete download taking its place, with the old file's permissions.
TEST(ManualDownloadTest, AFileOfTheSameNameChangesOnlyWhenOverwrittenByACompleteDownload)
{
    struct Case
    {
        const char *name;
        IfFileExists rule;
        bool fetched; // RETR is sent
        const char *closing; // the closing reply, when fetched
        bool completed;
        const char *local; // the bytes of the user's file afterwards
        bool numbered; // "f (1).txt" holds the download
    };

    const std::string mine = "the user's own bytes";
    const Case cases[] = {
        {"a failed download", IfFileExists::Overwrite, true, "426 Connection closed", false,
            "the user's own bytes", false},
        {"rename", IfFileExists::Rename, true, "226 Done", true, "the user's own bytes", true},
        {"overwrite", IfFileExists::Overwrite, true, "226 Done", true, "fresh", false},
        {"skip", IfFileExists::Skip, false, "", false, "the user's own bytes", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const fs::path local = dir / "f.txt";
        test::writeFile(local, mine);
        fs::permissions(local, fs::perms::owner_read | fs::perms::owner_write);
        test::ScriptedServer scripted;
        test::greetAndLogIn(scripted);
        if (c.fetched) {
            test::startPassiveRetr(scripted, "f.txt");
            scripted.add(test::ScriptedServer::Step::DataSend, "fresh");
            scripted.add(test::ScriptedServer::Step::DataClose);
            scripted.send(c.closing);
        }
        scripted.start();
        LeaseBoard board;
        net::FtpSessionOptions options;
        options.passive = true;
        const test::OfferedSession offered =
            test::offerSession(board, 1, test::scriptedSite(scripted), true, options);
        ASSERT_NE(offered.lease, nullptr) << "login failed";
        Reports reports;
        ManualSessionEvents events;
        events.transferFinished = [&](const std::string &, bool completed) {
            reports.read([&] {
                reports.completed = completed;
                return reports.finished = true;
            });
        };
        ManualSession session(board, nullptr, events);
        ASSERT_TRUE(session.attach(1));
        ASSERT_TRUE(
            session.download("f.txt", local.string(), 5, std::make_shared<std::atomic<bool>>(false), c.rule));
        ASSERT_TRUE(test::waitUntil([&] { return reports.read([&] { return reports.finished; }); }, 20s));
        EXPECT_EQ(reports.read([&] { return reports.completed; }), c.completed);
        EXPECT_EQ(test::readFile(local), c.local);
        EXPECT_EQ(fs::status(local).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::exists(dir / "f (1).txt"), c.numbered);
        EXPECT_FALSE(fs::exists(dir / "f.txt.part"));
        session.handBack(static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection));
        ASSERT_TRUE(test::waitUntil([&] { return !session.isAttached(); }, 20s));
        offered.connection->disconnect(net::StopByEngine);
        ASSERT_TRUE(scripted.waitFinished());
        EXPECT_EQ(scripted.received().size(), c.fetched ? 5u : 2u);
    }
}

} // namespace
} // namespace bw::engine
