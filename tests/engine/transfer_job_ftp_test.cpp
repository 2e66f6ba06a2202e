// SPDX-License-Identifier: MIT
// Transfer jobs against the loopback vsftpd: shared logins, trees both ways, bad URLs.
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/connection_lease.h"
#include "net/remote_session.h"
#include "remote_folder_fixture.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::test {
namespace {

namespace fs = std::filesystem;

class FtpJobTest : public RemoteFolderTest
{
protected:
    void SetUp() override
    {
        server = ftpServer();
        ASSERT_NE(server.port, 0) << "the vsftpd test server is needed";
        useRemoteFolder(server.root, nameForThisTest("h4"),
            server.user + ":" + server.password + "@" + server.host + ":" + std::to_string(server.port));
    }

    FtpServer server;
};

TEST_F(FtpJobTest, TwoFilesOfOneSiteShareOneLogin)
{
    writeFile(remoteRoot / "one.bin", patternBytes(40000, 7));
    writeFile(remoteRoot / "two.bin", patternBytes(90000, 8));
    scheduler.setMaxThreads(1);
    const auto first = queue.addItem(folderUrl("ftp", "/one.bin"), (local / "one.bin").string());
    const auto second = queue.addItem(folderUrl("ftp", "/two.bin"), (local / "two.bin").string());
    start();
    ASSERT_TRUE(waitStatus(first, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitStatus(second, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitUntil([&] { return notifier.count("QUIT") == 1; }));
    EXPECT_EQ(readFile(local / "one.bin"), readFile(remoteRoot / "one.bin"));
    EXPECT_EQ(readFile(local / "two.bin"), readFile(remoteRoot / "two.bin"));
    EXPECT_EQ(notifier.count("USER " + server.user), 1);
    EXPECT_EQ(notifier.count("Creating socket..."), 1);
    EXPECT_EQ(notifier.count("File retrieved."), 2);
}

TEST_F(FtpJobTest, ARemoteDirectoryExpandsLevelByLevelIntoAnIdenticalTree)
{
    makeTreeWithOddNames(remoteRoot / "src");
    openUp(remoteRoot);
    const auto id = queue.addItem(folderUrl("ftp", "/src"), (local / "copy").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitAllSettled());
    expectAllFinished();
    EXPECT_EQ(treeOf(local / "copy"), treeOf(remoteRoot / "src"));
    EXPECT_TRUE(notifier.sawLine("File is a directory."));
    EXPECT_TRUE(notifier.sawLine("Adding files to the queue..."));
    // A name with "@" reaches its child URL escaped, and comes back whole through the parser.
    EXPECT_EQ(idsEndingWith("/src/at%40sign.txt").size(), 1u);
}

// The file-name case the user chose reaches every new local name of a downloaded folder: the files
// and folders it expands into, level by level. Twins that the case would merge keep their own names.
TEST_F(FtpJobTest, AFolderDownloadGivesItsLocalNamesTheChosenCase)
{
    struct Case
    {
        engine::FileNameConversion conversion;
        std::map<std::string, std::string> localOf; // local name of each remote file
    };

    const fs::path remote = remoteRoot / "Src";
    fs::create_directories(remote / "Sub/Deeper");
    const std::map<std::string, std::string> files = {{"Mixed.TXT", "mixed"}, {"Twin.txt", "upper twin"},
        {"twin.txt", "lower twin"}, {"Sub/Leaf.Bin", patternBytes(3000, 4)},
        {"Sub/Deeper/End.dat", patternBytes(100, 5)}};
    for (const auto &[name, bytes] : files)
        writeFile(remote / name, bytes);
    openUp(remoteRoot);
    const Case cases[] = {
        {engine::FileNameConversion::Lowercase,
            {{"Mixed.TXT", "mixed.txt"}, {"Twin.txt", "Twin.txt"}, {"twin.txt", "twin.txt"},
                {"Sub/Leaf.Bin", "sub/leaf.bin"}, {"Sub/Deeper/End.dat", "sub/deeper/end.dat"}}},
        {engine::FileNameConversion::Uppercase,
            {{"Mixed.TXT", "MIXED.TXT"}, {"Twin.txt", "TWIN.TXT"}, {"twin.txt", "twin.txt"},
                {"Sub/Leaf.Bin", "SUB/LEAF.BIN"}, {"Sub/Deeper/End.dat", "SUB/DEEPER/END.DAT"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.conversion));
        engine::Settings settings = transferEngine.currentSettings();
        settings.fileNameConversion = c.conversion;
        transferEngine.applySettings(settings);
        const fs::path copy = local / ("copy" + std::to_string(static_cast<int>(c.conversion)));
        const auto id = queue.addItem(folderUrl("ftp", "/Src"), copy.string());
        if (!scheduler.isRunning())
            start();
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
        ASSERT_TRUE(waitAllSettled());
        std::map<std::string, std::string> expected;
        for (const auto &[name, bytes] : files) {
            const std::string localName = c.localOf.at(name);
            expected[localName] =
                std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
            for (auto slash = localName.rfind('/'); slash != std::string::npos && slash > 0;
                 slash = localName.rfind('/', slash - 1))
                expected[localName.substr(0, slash)] = "<dir>";
        }
        EXPECT_EQ(treeOf(copy), expected);
    }
}

TEST_F(FtpJobTest, AnUploadCreatesTheMissingRemoteChainAndArrivesIdentical)
{
    makeTreeWithOddNames(local / "up");
    const auto id = queue.addItem(folderUrl("ftpu", "/new/deeper/up"), (local / "up").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitAllSettled());
    expectAllFinished();
    EXPECT_EQ(treeOf(remoteRoot / "new/deeper/up"), treeOf(local / "up"));
    EXPECT_EQ(notifier.count("mkd new"), 1);
    EXPECT_TRUE(notifier.sawLine("257 \"/" + folder + "/new/deeper\" created"));
    EXPECT_TRUE(notifier.sawLine("File sent."));
}

TEST_F(FtpJobTest, ABadUrlEndsBadUrlAndTheWorkerGoesOn)
{
    writeFile(remoteRoot / "after.bin", "after the bad one");
    scheduler.setMaxThreads(1);
    const auto bad = queue.addItem("file:///etc/hostname", (local / "x").string());
    const auto good = queue.addItem(folderUrl("ftp", "/after.bin"), (local / "after.bin").string());
    start();
    ASSERT_TRUE(waitStatus(good, core::ItemStatus::StatusFinished));
    EXPECT_EQ(core::snapshotOrVanished(queue, bad).status, core::ItemStatus::StatusBadUrl);
    EXPECT_EQ(core::statusText(core::snapshotOrVanished(queue, bad).status), "Bad URL");
    EXPECT_EQ(readFile(local / "after.bin"), "after the bad one");
    EXPECT_EQ(scheduler.peakJobCount(), 1);
}

TEST_F(FtpJobTest, LoginFailuresEndWithTheirStatus)
{
    scheduler.setMaxThreads(1);
    const std::string prefix =
        "ftp://" + server.user + ":wrong@" + server.host + ":" + std::to_string(server.port);
    // A long rest keeps the failed items from being tried again while the test looks.
    const auto badPassword = queue.addItem(prefix + "/" + folder + "/x", (local / "x").string(), 0, 3600);
    const auto refused = queue.addItem("ftp://127.0.0.1:1/x", (local / "y").string(), 0, 3600);
    start();
    ASSERT_TRUE(waitStatus(badPassword, core::ItemStatus::StatusInvalidPassword));
    ASSERT_TRUE(waitStatus(refused, core::ItemStatus::StatusFailedToConnect));
}

TEST_F(FtpJobTest, StopWaitsForTheBorrowerToGiveTheConnectionBack)
{
    scheduler.setMaxThreads(1);
    const std::string site = "ftp://" + login;
    const auto id = queue.addItem(site, "");
    start();
    ASSERT_TRUE(waitUntil([&] { return leases.find(id) != nullptr; }));
    // The browser takes it and works on it from a thread of its own.
    const std::shared_ptr<engine::ConnectionLease> lease = leases.find(id);
    const std::shared_ptr<net::RemoteSession> session = lease->take();
    ASSERT_NE(session, nullptr);
    std::string directory;
    EXPECT_TRUE(session->currentFolder(directory));

    scheduler.stop();
    // The job asks for it back, stops whatever runs on it, and waits: it neither takes it nor closes it.
    ASSERT_TRUE(waitUntil([&] { return lease->isRecalled(); }));
    EXPECT_FALSE(lease->hasEnded());
    EXPECT_TRUE(session->isStopRequested());
    EXPECT_TRUE(scheduler.isRunning()); // its job is still waiting

    lease->giveBack(static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection));
    ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
    EXPECT_EQ(core::snapshotOrVanished(queue, id).status,
        core::ItemStatus::StatusIdle); // stopped while lent: the request stays queued
    EXPECT_EQ(leases.find(id), nullptr);
}

TEST_F(FtpJobTest, AStoppedJobEndsWithoutFreeingASessionItsHolderKeeps)
{
    scheduler.setMaxThreads(1);
    const auto id = queue.addItem("ftp://" + login, "");
    start();
    ASSERT_TRUE(waitUntil([&] { return leases.find(id) != nullptr; }));
    const std::shared_ptr<engine::ConnectionLease> lease = leases.find(id);
    const std::shared_ptr<net::RemoteSession> session = lease->take();
    ASSERT_NE(session, nullptr);

    scheduler.stop();
    // The holder never gives it back: the job ends after its bound all the same.
    ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
    EXPECT_EQ(core::snapshotOrVanished(queue, id).status, core::ItemStatus::StatusIdle);
    // The session is still the holder's to use and close (a freed one would fail under ASan here).
    EXPECT_TRUE(session->isStopRequested());
    lease->giveBack(static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection));
    session->disconnect(net::StopByEngine);
    EXPECT_FALSE(session->isLoggedIn());
}

TEST_F(FtpJobTest, ALentConnectionEndsTheItemAsItComesBack)
{
    scheduler.setMaxThreads(1);
    const std::string site = "ftp://" + login;
    std::mutex seenMutex;
    std::map<std::int64_t, std::set<core::ItemStatus>> seen;
    const auto watch = notifier.watchChanges([&](std::int64_t changed) {
        const core::ItemStatus status =
            core::snapshotOrVanished(queue, static_cast<std::int32_t>(changed)).status;
        std::lock_guard lock{seenMutex};
        seen[changed].insert(status);
    });
    start();

    const struct
    {
        const char *name;
        core::ItemStatus givenBack; // what the browser leaves in the item
        core::ItemStatus expected; // how the job ends it
    } cases[] = {
        {"disconnect", core::ItemStatus::StatusInactiveManualConnection,
            core::ItemStatus::StatusManualConnectionComplete},
        {"failure", core::ItemStatus::StatusFailedManualConnection,
            core::ItemStatus::StatusFailedManualConnection},
        {"temporary disconnect", core::ItemStatus::StatusReconnectAfterTransfers,
            core::ItemStatus::StatusReconnectAfterTransfers},
    };

    for (const auto &c : cases) {
        // An empty local path asks for a manual connection.
        const auto id = queue.addItem(site, "");
        ASSERT_TRUE(waitUntil([&] { return leases.find(id) != nullptr; })) << c.name;
        EXPECT_EQ(
            core::snapshotOrVanished(queue, id).status, core::ItemStatus::StatusInactiveManualConnection)
            << c.name;
        const std::shared_ptr<engine::ConnectionLease> lease = leases.find(id);
        ASSERT_NE(lease->take(), nullptr) << c.name;
        lease->giveBack(static_cast<std::int32_t>(c.givenBack));
        ASSERT_TRUE(waitUntil([&] {
            std::lock_guard lock{seenMutex};
            return seen[id].count(c.expected) != 0;
        })) << c.name;
        if (c.expected == core::ItemStatus::StatusReconnectAfterTransfers) {
            // With nothing else to do the job takes it again at once and lends it anew.
            ASSERT_TRUE(waitUntil([&] {
                const auto offered = leases.find(id);
                return offered && offered != lease;
            }));
            // Stopped while lent, the request stays queued rather than complete.
            scheduler.stop();
            ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
            EXPECT_EQ(core::snapshotOrVanished(queue, id).status, core::ItemStatus::StatusIdle);
            EXPECT_EQ(leases.find(id), nullptr);
        } else {
            // A failed request would be taken again at once; out of the way for the next case.
            queue.removeItem(id);
            ASSERT_TRUE(waitUntil([&] {
                return !queue.contains(id)
                    || core::snapshotOrVanished(queue, id).status == core::ItemStatus::StatusQueuedForRemoval;
            })) << c.name;
        }
    }
}

} // namespace
} // namespace bw::test
