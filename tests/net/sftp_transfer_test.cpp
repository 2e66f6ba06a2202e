// SPDX-License-Identifier: MIT
// Folder operations and transfers over SFTP against the test sshd: round trips, resume, a refused
// permission, a connection cut or stalled mid-file, and stops that end any wait within a second.
#include <chrono>
#include <filesystem>
#include <future>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include "net/sftp_session.h"
#include "support/sftp_test_home.h"
#include "support/silent_listener.h"
#include "support/wait_until.h"

namespace bw::net {
namespace {

using namespace bw::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

class SftpTransferTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.trustServer();
        // Each test works in a folder of its own, so tests may run side by side.
        folder = "t-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        serverFolder = fs::path(home.server().root) / folder;
        fs::remove_all(serverFolder);
        ASSERT_TRUE(session.connect(home.site()))
            << session.error().text() << " " << session.error().detail();
        ASSERT_TRUE(session.makeFolder(folder));
        ASSERT_TRUE(session.changeFolder(folder));
    }

    void TearDown() override { fs::remove_all(serverFolder); }

    SftpTestHome home;
    SftpSession session{home.options()};
    std::string folder;
    fs::path serverFolder;
};

TEST_F(SftpTransferTest, FolderOperationsWorkOnTheSessionsOwnFolder)
{
    writeFile(home.path() / "local.bin", patternBytes(70000));
    EXPECT_TRUE(session.makeFolder("sub"));
    EXPECT_FALSE(session.makeFolder("sub")); // exists already
    EXPECT_TRUE(session.put((home.path() / "local.bin").string(), "sub/a.bin", {}));
    std::vector<ListingEntry> entries;
    ASSERT_TRUE(session.list("", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "sub");
    EXPECT_TRUE(entries[0].isDirectory);
    EXPECT_NE(entries[0].time.year, 0);

    ASSERT_TRUE(session.changeFolder("sub"));
    EXPECT_TRUE(session.rename("a.bin", "b.bin"));
    std::int64_t size = 0;
    EXPECT_TRUE(session.fileSize("/~/" + folder + "/sub/b.bin", size));
    EXPECT_EQ(size, 70000);
    ASSERT_TRUE(session.list("", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "b.bin");
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_EQ(entries[0].sizeBytes, 70000);
    EXPECT_FALSE(session.changeFolder("b.bin")); // a file, not a folder
    EXPECT_FALSE(session.removeFolder("/~/" + folder + "/sub")); // not empty
    EXPECT_TRUE(session.removeFile("b.bin"));
    EXPECT_TRUE(session.changeFolder(".."));
    EXPECT_TRUE(session.removeFolder("sub"));
    ASSERT_TRUE(session.list("", entries));
    EXPECT_TRUE(entries.empty());
    std::string current;
    EXPECT_TRUE(session.currentFolder(current));
    EXPECT_EQ(fs::canonical(current), fs::canonical(serverFolder));
}

TEST_F(SftpTransferTest, RoundTripsAndResumesFromTheLocalLength)
{
    // OpenSSH announces its limits: requests larger than the 32 KiB every server takes.
    EXPECT_GT(session.limits().readBytes, 32u * 1024);
    EXPECT_GT(session.limits().writeBytes, 32u * 1024);
    const std::string bytes = patternBytes(5 * 1024 * 1024 + 12345);
    writeFile(home.path() / "up.bin", bytes);
    std::int64_t lastDone = -1, lastTotal = -1;
    const auto progress = [&](std::int64_t done, std::int64_t total) {
        lastDone = done, lastTotal = total;
    };
    ASSERT_TRUE(session.put((home.path() / "up.bin").string(), "file.bin", progress));
    EXPECT_EQ(lastDone, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(readFile(serverFolder / "file.bin"), bytes);

    const fs::path local = home.path() / "down.bin";
    writeFile(local, bytes.substr(0, 1000001));
    ASSERT_TRUE(session.get("file.bin", local.string(), 0, true, progress));
    EXPECT_EQ(readFile(local), bytes);
    EXPECT_EQ(lastTotal, static_cast<std::int64_t>(bytes.size()));

    writeFile(local, "stale bytes that a fresh download replaces");
    ASSERT_TRUE(session.get("file.bin", local.string(), static_cast<std::int64_t>(bytes.size()), false, {}));
    EXPECT_EQ(readFile(local), bytes);
    writeFile(serverFolder / "empty", "");
    ASSERT_TRUE(session.get("empty", local.string(), 0, false, {}));
    EXPECT_EQ(fs::file_size(local), 0u);
}

TEST_F(SftpTransferTest, ARefusedPermissionFailsTheRequestAndKeepsTheLogin)
{
    writeFile(serverFolder / "secret", "no one may read this");
    fs::permissions(serverFolder / "secret", fs::perms::none);
    fs::create_directories(serverFolder / "closed");
    fs::permissions(serverFolder / "closed", fs::perms::owner_read | fs::perms::owner_exec);
    writeFile(home.path() / "x", "x");

    EXPECT_FALSE(session.get("secret", (home.path() / "secret").string(), 0, false, {}));
    EXPECT_TRUE(session.error().is(CatProtocol, PermissionDenied)) << session.error().text();
    EXPECT_EQ(session.error().status(), SSH_FX_PERMISSION_DENIED);
    EXPECT_FALSE(session.put((home.path() / "x").string(), "closed/x", {}));
    EXPECT_TRUE(session.error().is(CatProtocol, PermissionDenied));
    EXPECT_FALSE(session.get("missing", (home.path() / "m").string(), 0, false, {}));
    EXPECT_EQ(session.error().status(), SSH_FX_NO_SUCH_FILE);
    std::vector<ListingEntry> entries;
    EXPECT_TRUE(session.list("", entries));
    EXPECT_EQ(entries.size(), 2u);
}

TEST_F(SftpTransferTest, ACutOrStalledConnectionFailsAndKeepsTheBytesInOrder)
{
    const std::string bytes = patternBytes(8 * 1024 * 1024);
    writeFile(serverFolder / "big.bin", bytes);
    for (const SftpRelay::Fault fault : {SftpRelay::Fault::Cut, SftpRelay::Fault::Stall}) {
        SCOPED_TRACE(fault == SftpRelay::Fault::Cut ? "cut" : "stall");
        SftpRelay relay{home.server().port, fault, 2 * 1024 * 1024};
        SftpSessionOptions options = home.options();
        options.trustedHostKey = session.hostKey().fingerprint; // the relay's port is not in known_hosts
        options.timeoutSeconds = 1;
        SftpSession relayed{options};
        ASSERT_TRUE(
            relayed.connect({"127.0.0.1", relay.port(), home.server().user, home.server().password, 2}))
            << relayed.error().detail();
        const fs::path local = home.path() / "partial.bin";
        const auto start = SteadyClock::now();
        EXPECT_FALSE(relayed.get("/~/" + folder + "/big.bin", local.string(), 0, false, {}));
        EXPECT_LT(SteadyClock::now() - start, 5s);
        EXPECT_TRUE(relay.faulted());
        EXPECT_TRUE(relayed.error().isSet());
        const std::string got = readFile(local);
        EXPECT_LT(got.size(), bytes.size());
        EXPECT_EQ(got, bytes.substr(0, got.size()));
        if (fault == SftpRelay::Fault::Stall) {
            EXPECT_TRUE(relayed.error().is(CatStop, DataIdleTimeout)) << relayed.error().text();
        }
    }
}

TEST_F(SftpTransferTest, AStopEndsEveryWaitWithinASecond)
{
    writeFile(serverFolder / "big.bin", patternBytes(8 * 1024 * 1024));
    SpeedLimits slow;
    slow.setMaxKBps(400);

    struct Case
    {
        const char *name;
        bool silentServer; // a server that never greets: the wait is in the key exchange
        bool transferOnly; // stopTransfer: the login stays usable
    };

    const Case cases[] = {
        {"key exchange", true, false},
        {"transfer", false, false},
        {"transfer only", false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SilentListener silent;
        SftpSessionOptions options = home.options();
        options.timeoutSeconds = 60;
        SftpSession stopped{options};
        stopped.setSpeedLimits(&slow);
        std::atomic<bool> moving{false};
        if (!c.silentServer) {
            ASSERT_TRUE(stopped.connect(home.site()));
        }
        auto work = std::async(std::launch::async, [&] {
            if (c.silentServer)
                return stopped.connect({"127.0.0.1", silent.port(), "u", "p", 3});
            return stopped.get("/~/" + folder + "/big.bin", (home.path() / "slow.bin").string(), 0, false,
                [&](std::int64_t done, std::int64_t) { moving.store(done > 0); });
        });
        // The silent server has the connection in its backlog once the key exchange waits for it.
        const auto connected = [&] {
            pollfd pending{silent.fd(), POLLIN, 0};
            return ::poll(&pending, 1, 0) == 1;
        };
        ASSERT_TRUE(waitUntil([&] { return c.silentServer ? connected() : moving.load(); }, 10s));
        const auto start = SteadyClock::now();
        if (c.transferOnly)
            stopped.stopTransfer(StopByItem);
        else
            stopped.requestStop(StopByEngine);
        ASSERT_EQ(work.wait_for(5s), std::future_status::ready);
        EXPECT_LT(SteadyClock::now() - start, 1s);
        EXPECT_FALSE(work.get());
        EXPECT_TRUE(stopped.error().is(CatStop, c.transferOnly ? StopByItem : StopByEngine))
            << stopped.error().text();
        EXPECT_EQ(stopped.isStopRequested(), !c.transferOnly); // a session stop is sticky
        std::vector<ListingEntry> entries;
        EXPECT_EQ(stopped.list("", entries), c.transferOnly);
    }
}

TEST_F(SftpTransferTest, AStopDuringTheLoginAndASilentServerEndTheConnectAtOnce)
{
    // The passphrase question is part of the login: a stop that comes while it is open ends the login
    // at its next step, before the password is tried.
    home.installKey(home.server().lockedKeyPath, "id_ed25519");
    SftpSessionOptions options = home.options();
    std::atomic<bool> asked{false};
    std::atomic<bool> stopSent{false};
    options.passphrase = [&](const std::string &) -> std::optional<std::string> {
        asked.store(true);
        waitUntil([&] { return stopSent.load(); }, 10s);
        return std::nullopt;
    };
    SftpSession stopped{options};
    auto login = std::async(std::launch::async, [&] { return stopped.connect(home.site()); });
    ASSERT_TRUE(waitUntil([&] { return asked.load(); }, 10s));
    stopped.requestStop(StopByEngine);
    const auto start = SteadyClock::now();
    stopSent.store(true);
    ASSERT_EQ(login.wait_for(5s), std::future_status::ready);
    EXPECT_LT(SteadyClock::now() - start, 1s);
    EXPECT_FALSE(login.get());
    EXPECT_TRUE(stopped.error().is(CatStop, StopByEngine)) << stopped.error().text();

    // A server that never greets fails the connect after the time-out, as a time-out.
    SilentListener silent;
    SftpSessionOptions quick = home.options();
    quick.timeoutSeconds = 1;
    SftpSession waiting{quick};
    const auto connectStart = SteadyClock::now();
    EXPECT_FALSE(waiting.connect({"127.0.0.1", silent.port(), "u", "p", 4}));
    EXPECT_LT(SteadyClock::now() - connectStart, 3s);
    EXPECT_EQ(waiting.error().category(), CatSocket) << waiting.error().text();
}

} // namespace
} // namespace bw::net
