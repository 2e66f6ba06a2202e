// SPDX-License-Identifier: MIT
// A stop request from another thread ends whichever wait the owner is in within a second, stays until
// the owner clears it, and never frees a socket or TLS layer under the owner's feet.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/ftp_connection.h"
#include "net/rate_limiter.h"
#include "support/ftp_script.h"
#include "support/scripted_server.h"
#include "support/server_folder.h"
#include "support/silent_listener.h"
#include "support/stalled_network.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "support/tls_test_servers.h"
#include "support/wait_until.h"

namespace bw::net {
namespace {

using namespace bw::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs `step` on an owner thread; once `reached` says it waits, stops it and measures how long the
// owner takes to return.
void expectStopEndsTheWait(
    FtpConnection &ftp, const std::function<bool()> &step, const std::function<bool()> &reached)
{
    auto result = std::async(std::launch::async, step);
    ASSERT_TRUE(waitUntil(reached)) << "the step never reached its wait";
    ASSERT_EQ(result.wait_for(0ms), std::future_status::timeout) << "the step ended before the stop";
    const auto stopped = std::chrono::steady_clock::now();
    ftp.abort(StopByItem);
    ASSERT_EQ(result.wait_for(1s), std::future_status::ready) << "the stop was not seen within a second";
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
    EXPECT_FALSE(result.get());
    EXPECT_TRUE(ftp.isStopRequested());
}

TEST(FtpStop, EveryWaitEndsWithinASecond)
{
    enum class Script
    {
        Silent, // accepts and says nothing
        AfterGreeting, // "220 Ready", then silent
        AfterUser, // silent after USER
        AfterPass,
        AfterPwd,
        ActiveAccept, // 150 for RETR, never connects
        MidFile,
        MidListing,
    };

    struct Case
    {
        const char *wait;
        Script script;
        std::size_t linesBeforeTheWait; // commands the server has read when the wait begins
    };

    const Case cases[] = {
        {"greeting", Script::Silent, 0},
        {"TLS handshake", Script::Silent, 0},
        {"USER reply", Script::AfterUser, 1},
        {"PASS reply", Script::AfterPass, 2},
        {"PWD reply", Script::AfterPwd, 3},
        {"active accept", Script::ActiveAccept, 5},
        {"transfer", Script::MidFile, 5},
        {"listing", Script::MidListing, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wait);
        ScriptedServer server;
        if (c.script != Script::Silent) {
            server.send("220 Ready").expect("USER u");
            if (c.script != Script::AfterUser)
                server.send("331 Password please").expect("PASS p");
            if (c.script != Script::AfterUser && c.script != Script::AfterPass)
                server.send("230 Logged in");
        }
        if (c.script == Script::AfterPwd)
            server.expect("PWD");
        if (c.script == Script::ActiveAccept)
            server.reply("TYPE I", "200 Binary")
                .expect("")
                .send("200 PORT ok")
                .reply("RETR f", "150 Opening");
        if (c.script == Script::MidFile) {
            startPassiveRetr(server, "f");
            server.add(ScriptedServer::Step::DataSend, "12345").add(ScriptedServer::Step::DataHold);
        }
        if (c.script == Script::MidListing) {
            passiveList(server, "150 Here it comes");
            server.add(ScriptedServer::Step::DataSend, "-rw-r--r-- 1 u g 1 Mar  3  2001 a\r\n");
            server.add(ScriptedServer::Step::DataHold);
        }
        server.hold();
        server.start();
        FtpConnection ftp;
        ftp.setTimeout(60);
        ASSERT_TRUE(ftp.createAndBind(0));
        FtpSite site = scriptedSite(server);
        if (std::string(c.wait) == "TLS handshake")
            site.security = FtpSecurity::ImplicitTls;
        const bool logsInFirst = c.script == Script::AfterPwd || c.linesBeforeTheWait >= 4;
        if (logsInFirst) {
            ASSERT_TRUE(ftp.login(site));
        }
        TempDir dir;
        const std::function<bool()> step = [&] {
            switch (c.script) {
            case Script::AfterPwd: {
                std::string path;
                return ftp.printWorkingDirectory(path);
            }
            case Script::ActiveAccept:
                return ftp.download((dir / "f").string(), "f", true, false, 0, false);
            case Script::MidFile:
                return ftp.download((dir / "f").string(), "f", true, true, 100, false);
            case Script::MidListing:
                return ftp.list("", true, true);
            default:
                return ftp.login(site);
            }
        };
        const std::function<bool()> reached = [&] {
            if (c.script == Script::MidFile || c.script == Script::MidListing)
                return ftp.dataConnection().isStalled();
            return server.received().size() == c.linesBeforeTheWait && ftp.isConnected();
        };
        expectStopEndsTheWait(ftp, step, reached);
        server.release();
    }
}

TEST(FtpStop, ResolveAndConnectEndWithinASecond)
{
    {
        SCOPED_TRACE("name look-up");
        FtpConnection ftp;
        ftp.controlConnection().setResolver(&BlockedLookup::resolve);
        ASSERT_TRUE(ftp.createAndBind(0));
        expectStopEndsTheWait(
            ftp,
            [&] {
                return ftp.login(FtpSite{"stuck.example", 21, "u", "p", 1});
            },
            [] { return BlockedLookup::entered.load(); });
        BlockedLookup::release(); // the look-up thread finishes on its own; its answer is dropped
    }
    {
        SCOPED_TRACE("connect");
        FullBacklog listener;
        FtpConnection ftp;
        ftp.setTimeout(60);
        ASSERT_TRUE(ftp.createAndBind(0));
        expectStopEndsTheWait(
            ftp,
            [&] {
                return ftp.login(FtpSite{"127.0.0.1", listener.port(), "u", "p", 1});
            },
            [&] { return ftp.controlConnection().state() == SocketState::Connecting; });
    }
}

// A stop that lands between two commands belongs to the next one: it must not be forgotten when that
// command starts.
TEST(FtpStop, AStopBetweenTwoCommandsEndsTheNextOne)
{
    ScriptedServer server;
    greetAndLogIn(server);
    server.reply("PWD", "257 \"/\" is current");
    server.reply("PWD", "257 \"/\" is current");
    server.reply("QUIT", "221 Bye");
    server.start();
    FtpConnection ftp;
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(scriptedSite(server)));
    std::string path;
    ASSERT_TRUE(ftp.printWorkingDirectory(path));
    ftp.abort(StopByEngine);
    TempDir dir;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ftp.download((dir / "f").string(), "f", true, true, 100, false));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_TRUE(ftp.isStopRequested());
    // Clearing a failure does not take the stop back; only the owner's clearStop() does.
    ftp.clearError();
    EXPECT_FALSE(ftp.printWorkingDirectory(path));
    ftp.clearStop();
    ftp.clearError();
    EXPECT_TRUE(ftp.printWorkingDirectory(path));
    ftp.disconnect(StopByEngine);
    EXPECT_TRUE(server.waitFinished());
    EXPECT_EQ(server.received(), (std::vector<std::string>{"USER u", "PASS p", "PWD", "PWD", "QUIT"}));

    // A stop that comes after the owner cleared the last one and looked at its own reasons, just before
    // the next login, is kept by that login: it must not wait for a greeting that never comes.
    SilentListener silent;
    ftp.reset();
    ftp.setTimeout(5);
    ASSERT_TRUE(ftp.createAndBind(0));
    ftp.abort(StopByEngine);
    FtpSite site;
    site.host = "127.0.0.1";
    site.port = silent.port();
    const auto loginStarted = std::chrono::steady_clock::now();
    EXPECT_FALSE(ftp.login(site));
    EXPECT_LT(std::chrono::steady_clock::now() - loginStarted, 1s);
    EXPECT_TRUE(ftp.isStopRequested());
}

// An abort from another thread during an FTPS download: the owner itself ends its transfer and closes
// its TLS layer (never the aborting thread), and the connection then logs in again and works.
TEST(FtpStop, AbortDuringAnFtpsDownloadLeavesAUsableConnection)
{
    const TlsServers servers = tlsServers();
    ASSERT_NE(servers.ftpsPort, 0) << "the vsftpd TLS test servers are needed";
    TempDir emptyFolder;
    trustOnly(servers.caFile, emptyFolder.path().string());
    const std::string folder = "ftps-stop-" + std::to_string(::getpid());
    const fs::path remote = fs::path(servers.ftpsRoot) / folder;
    makeOpenFolder(remote);
    writeFile(remote / "big.bin", patternBytes(32 * 1024 * 1024));
    FtpSite site{"127.0.0.1", servers.ftpsPort, servers.ftpUser, servers.ftpPassword, 5};
    site.security = FtpSecurity::ImplicitTls;
    FtpConnection ftp;
    ftp.setTimeout(30);
    // Slowed down, so that the stop surely lands while the file still flows.
    RateLimiter limiter(platform::SystemClock::instance());
    limiter.setLimit(50 * 1000 * 1000);
    ftp.dataConnection().setRateLimiter(&limiter);
    TempDir local;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(ftp.createAndBind(0));
        ASSERT_TRUE(ftp.login(site)) << ftp.error().text() << ": " << ftp.error().detail();
        ASSERT_TRUE(ftp.changeDirectory("/" + folder));
        auto download = std::async(std::launch::async, [&] {
            return ftp.download((local.path() / "big.bin").string(), "big.bin", true, true, 0, false);
        });
        // Stopped while bytes flow: the data connection's reads are under way.
        ASSERT_TRUE(waitUntil([&] { return ftp.dataConnection().bytesDone() > round * 100000; }));
        ftp.abort(StopByItem);
        ASSERT_EQ(download.wait_for(5s), std::future_status::ready);
        EXPECT_FALSE(download.get());
        EXPECT_FALSE(ftp.dataConnection().hasSocket());
        ftp.disconnect(StopByItem);
        ftp.reset();
    }
    // A fresh login after the stops: a small file arrives whole.
    writeFile(remote / "small.bin", patternBytes(100000, 3));
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(site));
    ASSERT_TRUE(ftp.changeDirectory("/" + folder));
    ASSERT_TRUE(ftp.download((local.path() / "small.bin").string(), "small.bin", true, true, 100000, false));
    EXPECT_EQ(readFile(local.path() / "small.bin"), patternBytes(100000, 3));
    ftp.disconnect(StopByEngine);
    std::error_code ignored;
    fs::remove_all(remote, ignored);
}

} // namespace
} // namespace bw::net
