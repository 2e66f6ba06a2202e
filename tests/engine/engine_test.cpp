// SPDX-License-Identifier: MIT
// The engine as one object: what it wires at construction, start and stop, the settings it takes, an
// orderly end with a job mid-transfer, and where downloads land as the local folder moves.
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "core/diagnostic_log.h"
#include "core/queue_list.h"
#include "engine/engine.h"
#include "engine/memory_settings_store.h"
#include "engine_fixture.h"
#include "support/ftp_script.h"
#include "support/held_download_script.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace bw::test {
namespace {

using Step = ScriptedServer::Step;

constexpr const char *kThreadWarning = "WARNING: Thread running in destructor";

class EngineObjectTest : public ::testing::Test
{
protected:
    EngineObjectTest()
    {
        std::filesystem::create_directories(dir / "local");
        engine = std::make_unique<engine::Engine>(options());
        core::QueueDefaults defaults = engine->queue().defaults();
        defaults.retryTime = -1;
        defaults.timeout = 10;
        defaults.passive = true;
        engine->queue().setDefaults(defaults);
        engine->scheduler().setMaxThreads(1);
    }

    engine::EngineOptions options() const
    {
        engine::EngineOptions o;
        o.schedulerTiming = fastTiming();
        o.jobTiming = engine::TransferJobTiming{nullptr, std::chrono::seconds(3), 20};
        o.diagnosticLogPath = logPath().string();
        o.localFolder = (dir / "local").string();
        return o;
    }

    std::filesystem::path logPath() const { return dir / "Bellwick.log"; }

    // Destroys the engine and returns what its diagnostic log holds.
    std::string endAndReadLog()
    {
        engine.reset();
        EXPECT_FALSE(core::DiagnosticLog::instance().isOpen());
        return readFile(logPath());
    }

    std::string url(const std::string &path) const
    {
        return "ftp://u:p@127.0.0.1:" + std::to_string(server.port()) + path;
    }

    void login()
    {
        server.send("220 scripted");
        server.reply("USER u", "331 password");
        server.reply("PASS p", "230 in");
    }

    // The first file on a connection finds the folder and sets the type; the next ones of the folder
    // need neither.
    void download(const std::string &name, const std::string &body, bool firstOnConnection = true)
    {
        if (firstOnConnection) {
            server.reply("PWD", "257 \"/\" is the current directory");
            server.reply("cwd /d/", "250 ok");
        }
        server.expect("PASV");
        server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.reply("LIST " + name, "150 here");
        server.add(Step::DataAccept);
        server.add(Step::DataSend, fileLine(name, body.size()));
        server.add(Step::DataClose);
        server.send("226 done");
        if (firstOnConnection)
            server.reply("TYPE I", "200 binary");
        server.expect("PASV");
        server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.reply("RETR " + name, "150 here");
        server.add(Step::DataAccept);
        server.add(Step::DataSend, body);
        server.add(Step::DataClose);
        server.send("226 done");
    }

    bool waitStatus(int id, core::ItemStatus status)
    {
        return waitUntil([&] { return core::snapshotOrVanished(engine->queue(), id).status == status; },
            std::chrono::seconds(30));
    }

    TempDir dir;
    ScriptedServer server;
    std::unique_ptr<engine::Engine> engine;
};

TEST_F(EngineObjectTest, WiresTheQueueOpensTheLogAndClosesItLast)
{
    EXPECT_EQ(engine->scheduler().queue(), &engine->queue());
    EXPECT_TRUE(core::DiagnosticLog::instance().isOpen());
    EXPECT_EQ(core::DiagnosticLog::instance().path(), logPath().string());
    EXPECT_EQ(engine->localPathOptions().localFolder, (dir / "local").string());
    EXPECT_FALSE(engine->isRunning());

    ASSERT_TRUE(engine->start());
    EXPECT_TRUE(engine->isRunning());
    EXPECT_FALSE(engine->start()); // already running
    engine->stop();
    ASSERT_TRUE(engine->waitUntilStoppedFor(5000));
    EXPECT_FALSE(engine->isRunning());
    // The Go command starts it again.
    ASSERT_TRUE(engine->start());
    // Destroyed while running: the scheduler ends first, then the log closes.
    EXPECT_EQ(endAndReadLog().find(kThreadWarning), std::string::npos);
}

TEST_F(EngineObjectTest, SettingsGoToTheirHoldersAndTheWindowsOwnPassThrough)
{
    engine::MemorySettingsStore store;
    engine::Settings s;
    s.downloadPath = "/dl";
    s.maxThreads = 3;
    s.maxThreadsPerSite = 0;
    s.retryTime = 5;
    s.retryCount = 4;
    s.timeout = 9;
    s.hidePassword = false;
    s.minimizeTray = false;
    s.passive = true;
    s.showSiteStart = false;
    s.timeStamp = true;
    s.useDownloadPath = true;
    s.longLocalPaths = true;
    s.maxSpeed = 700;
    s.minSpeed = 3;
    s.fileNameConversion = engine::FileNameConversion::Uppercase;
    s.ifFileExists = engine::IfFileExists::Overwrite;
    s.maxSegments = 2;
    engine::saveSettings(store, s);

    const engine::Settings loaded = engine->loadSettings(store);
    EXPECT_EQ(loaded, s);
    const core::QueueList &queue = engine->queue();
    EXPECT_EQ(queue.defaults().perSiteLimit, 0);
    EXPECT_EQ(queue.defaults().retryTime, 5);
    EXPECT_EQ(queue.defaults().retryCount, 4);
    EXPECT_EQ(queue.defaults().timeout, 9);
    EXPECT_TRUE(queue.defaults().passive);
    EXPECT_EQ(engine->scheduler().maxThreads(), 3);
    EXPECT_EQ(engine->localPathOptions().downloadPath, "/dl");
    EXPECT_TRUE(engine->localPathOptions().useDownloadPath);
    EXPECT_TRUE(engine->localPathOptions().longLocalPaths);
    EXPECT_EQ(engine->localPathOptions().fileNameConversion, engine::FileNameConversion::Uppercase);
    EXPECT_EQ(engine->speedLimits().maxKBps(), 700);
    EXPECT_EQ(engine->speedLimits().rateLimiter().limit(), 700000); // bytes per second
    EXPECT_EQ(engine->speedLimits().minKBps(), 3);
    // The window's own values are not the engine's: they come back as the window gives them.
    EXPECT_EQ(engine->currentSettings(loaded), s);
    EXPECT_TRUE(engine->currentSettings().showSiteStart);

    engine::MemorySettingsStore saved;
    engine->saveSettings(saved, loaded);
    EXPECT_EQ(engine::loadSettings(saved), s);
    EXPECT_EQ(saved.size(), 29u); // with the six of the proxy

    // Absent keys give the defaults, the site list on start among them.
    engine::Engine fresh;
    const engine::Settings defaults = fresh.loadSettings(engine::MemorySettingsStore{});
    EXPECT_TRUE(defaults.showSiteStart);
    core::QueueDefaults expected;
    expected.passive = true; // new settings use passive FTP
    EXPECT_EQ(fresh.queue().defaults(), expected);
}

TEST_F(EngineObjectTest, StoppingWithAJobMidTransferEndsItIdleAndCleanly)
{
    login();
    scriptHeldDownload(server, "/d/", "held.bin", 100000, 30000);
    server.start();

    const auto id = engine->queue().addItem(url("/d/held.bin"), (dir / "held.bin").string());
    ASSERT_TRUE(engine->start());
    ASSERT_TRUE(waitUntil([&] { return core::snapshotOrVanished(engine->queue(), id).bytesDone == 30000; }));
    engine->stop();
    ASSERT_TRUE(engine->waitUntilStoppedFor(20000));
    EXPECT_EQ(core::snapshotOrVanished(engine->queue(), id).status, core::ItemStatus::StatusIdle);
    EXPECT_EQ(engine->scheduler().jobCount(), 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "held.bin.part"), 30000u);
    server.release();
    EXPECT_EQ(endAndReadLog().find(kThreadWarning), std::string::npos);
}

// Every connection keeps an idle worker thread for its whole life; ending a job used to destroy them
// while they still ran.
TEST_F(EngineObjectTest, AnOrdinaryDownloadAndStopLeaveNoThreadRunningInADestructor)
{
    const std::string body = patternBytes(20000, 5);
    login();
    download("f.bin", body);
    server.reply("QUIT", "221 bye");
    server.start();

    const auto id = engine->queue().addItem(url("/d/f.bin"), (dir / "f.bin").string());
    ASSERT_TRUE(engine->start());
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    // The ended job is reaped (and so destroyed) by a later pass.
    ASSERT_TRUE(waitUntil([&] { return engine->scheduler().jobCount() == 0; }));
    engine->stopAndWait();
    EXPECT_EQ(readFile(dir / "f.bin"), body);
    const std::string log = endAndReadLog();
    EXPECT_NE(log.find("[" + std::to_string(id) + "]"), std::string::npos) << "the job wrote no log";
    EXPECT_EQ(log.find(kThreadWarning), std::string::npos) << log;
}

TEST_F(EngineObjectTest, DownloadsLandInTheLocalFolderOfTheirTimeNotTheWorkingDirectory)
{
    const std::string first = patternBytes(5000, 1);
    const std::string second = patternBytes(7000, 2);
    login();
    download("one.bin", first);
    download("two.bin", second, false);
    server.reply("QUIT", "221 bye");
    server.start();

    const auto workingDirectory = std::filesystem::current_path();
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    engine->setLocalFolder((dir / "a").string());
    const auto one = engine->queue().addItem(
        url("/d/one.bin"), engine::buildLocalPath(engine->localPathOptions(), url("/d/one.bin")));
    engine->setLocalFolder((dir / "b").string());
    const auto two = engine->queue().addItem(
        url("/d/two.bin"), engine::buildLocalPath(engine->localPathOptions(), url("/d/two.bin")));
    ASSERT_TRUE(engine->start());
    ASSERT_TRUE(waitStatus(one, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitStatus(two, core::ItemStatus::StatusFinished))
        << ::testing::PrintToString(server.failures());
    EXPECT_EQ(readFile(dir / "a" / "one.bin"), first);
    EXPECT_EQ(readFile(dir / "b" / "two.bin"), second);
    EXPECT_EQ(std::filesystem::current_path(), workingDirectory);
    EXPECT_FALSE(std::filesystem::exists(workingDirectory / "one.bin"));
}

} // namespace
} // namespace bw::test
