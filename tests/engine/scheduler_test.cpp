// SPDX-License-Identifier: MIT
// The scheduler's limits, stop, restart and removal, end to end with real jobs.
#include <filesystem>

#include <gtest/gtest.h>
#include <unistd.h>

#include "engine_fixture.h"
#include "support/held_download_script.h"
#include "support/queue_defaults.h"
#include "support/scripted_server.h"
#include "support/silent_listener.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::test {
namespace {

using Step = ScriptedServer::Step;

class SchedulerTest : public EngineTest
{
protected:
    // Waits for `passes` more passes of the scheduler.
    bool waitPasses(int passes)
    {
        const int target = scheduler.passCount() + passes;
        return waitUntil([&] { return scheduler.passCount() >= target; });
    }

    int inProgressCount()
    {
        int count = 0;
        for (const auto id : queue.ids())
            count += core::isInProgressStatus(core::snapshotOrVanished(queue, id).status) ? 1 : 0;
        return count;
    }

    TempDir local;
};

TEST_F(SchedulerTest, NeverRunsMoreThanThirtyTwoJobs)
{
    SilentListener silent;
    test::setQueueDefault(queue, &core::QueueDefaults::perSiteLimit, 0);
    scheduler.setMaxThreads(40);
    for (int i = 0; i < 40; ++i)
        queue.addItem("ftp://127.0.0.1:" + std::to_string(silent.port()) + "/f" + std::to_string(i),
            (local / ("f" + std::to_string(i))).string());
    start();
    ASSERT_TRUE(waitUntil([&] { return scheduler.jobCount() == 32; }));
    ASSERT_TRUE(waitPasses(10));
    EXPECT_EQ(scheduler.jobCount(), 32);
    EXPECT_EQ(scheduler.peakJobCount(), 32);
    EXPECT_EQ(inProgressCount(), 32);
}

TEST_F(SchedulerTest, ThePerSiteLimitHolds)
{
    SilentListener silent;
    test::setQueueDefault(queue, &core::QueueDefaults::perSiteLimit, 2);
    scheduler.setMaxThreads(10);
    for (int i = 0; i < 6; ++i)
        queue.addItem("ftp://127.0.0.1:" + std::to_string(silent.port()) + "/f" + std::to_string(i),
            (local / ("f" + std::to_string(i))).string());
    start();
    ASSERT_TRUE(waitUntil([&] { return scheduler.jobCount() == 2; }));
    ASSERT_TRUE(waitPasses(10));
    EXPECT_EQ(scheduler.peakJobCount(), 2);
    EXPECT_EQ(inProgressCount(), 2);
}

TEST_F(SchedulerTest, OneJobWorksThroughManySitesWhenMaxThreadsIsOne)
{
    const HttpServer server = httpServer();
    ASSERT_NE(server.port, 0) << "the nginx test server is needed";
    scheduler.setMaxThreads(1);
    std::vector<std::int32_t> ids;
    for (int i = 0; i < 10; ++i) {
        // Another user name makes another site.
        const std::string url = "http://user" + std::to_string(i) + "@" + server.host + ":"
            + std::to_string(server.port) + "/files/a.bin";
        ids.push_back(queue.addItem(url, (local / ("a" + std::to_string(i))).string()));
    }
    start();
    for (const auto id : ids)
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished)) << id;
    EXPECT_EQ(scheduler.peakJobCount(), 1);
}

TEST_F(SchedulerTest, StopsAndStartsAgainWhereTheQueueStands)
{
    const HttpServer server = httpServer();
    ASSERT_NE(server.port, 0) << "the nginx test server is needed";
    start();
    ASSERT_TRUE(waitPasses(2));
    scheduler.stop();
    ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
    EXPECT_EQ(scheduler.jobCount(), 0);
    const auto id =
        queue.addItem("http://" + server.host + ":" + std::to_string(server.port) + "/files/a.bin",
            (local / "a.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    EXPECT_EQ(readFile(local / "a.bin").size(), 100000u);
}

class HeldTransferTest : public SchedulerTest
{
protected:
    HeldTransferTest()
    {
        test::setQueueDefault(queue, &core::QueueDefaults::passive, true);
        // The held transfer's closing reply never comes: a short time-out ends that wait.
        test::setQueueDefault(queue, &core::QueueDefaults::timeout, 3);
        scheduler.setMaxThreads(1);
        // A download that sends part of the file and then holds the data connection open.
        server.send("220 scripted");
        server.reply("USER anonymous", "331 password");
        server.expect("");
        server.send("230 in");
        scriptHeldDownload(server, "/", "held.bin", 100000, 30000);
        server.start();
    }

    std::string url(const std::string &name) const
    {
        return "ftp://127.0.0.1:" + std::to_string(server.port()) + "/" + name;
    }

    ScriptedServer server;
};

TEST_F(HeldTransferTest, RemovingARunningItemEndsItQueuedForRemoval)
{
    const auto id = queue.addItem(url("held.bin"), (local / "held.bin").string());
    start();
    ASSERT_TRUE(waitUntil([&] { return core::snapshotOrVanished(queue, id).bytesDone == 30000; }));
    EXPECT_FALSE(queue.removeItem(id));
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusQueuedForRemoval));
    EXPECT_EQ(core::statusText(core::snapshotOrVanished(queue, id).status), "Queued for removal");
    // The job clears the abort request a moment after it has ended the item.
    EXPECT_TRUE(waitUntil([&] { return !core::snapshotOrVanished(queue, id).abortRequested; }));
}

TEST_F(HeldTransferTest, StoppingMidTransferEndsTheItemIdleAndTakesNoOtherItem)
{
    const auto held = queue.addItem(url("held.bin"), (local / "held.bin").string());
    const auto next = queue.addItem(url("next.bin"), (local / "next.bin").string());
    const StatusTrail seenOfNext(notifier, queue, next);
    start();
    ASSERT_TRUE(waitUntil([&] { return core::snapshotOrVanished(queue, held).bytesDone == 30000; }));
    scheduler.stop();
    ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
    EXPECT_EQ(core::snapshotOrVanished(queue, held).status, core::ItemStatus::StatusIdle);
    EXPECT_EQ(core::snapshotOrVanished(queue, next).status, core::ItemStatus::StatusIdle);
    EXPECT_FALSE(seenOfNext.saw(core::ItemStatus::StatusActive));
    // The partial file stays for a later resume.
    EXPECT_EQ(std::filesystem::file_size(local / "held.bin.part"), 30000u);
}

// A scheduler whose regular pass comes only once a minute: anything that starts within the tests' wait
// limits started on an event, not on the pass.
class EventStartTest : public ::testing::Test
{
protected:
    EventStartTest()
    {
        test::setQueueDefault(queue, &core::QueueDefaults::retryTime, -1);
        test::setQueueDefault(queue, &core::QueueDefaults::timeout, 10);
    }

    ~EventStartTest() override { transferEngine.stopAndWait(); }

    engine::EngineOptions slowPassOptions()
    {
        engine::EngineOptions options;
        options.schedulerTiming = {std::chrono::minutes(1), std::chrono::milliseconds(20)};
        options.clock = &clock;
        return options;
    }

    void addSilentItems(const SilentListener &silent, int count)
    {
        for (int i = 0; i < count; ++i)
            queue.addItem("ftp://127.0.0.1:" + std::to_string(silent.port()) + "/f" + std::to_string(i),
                (local / ("f" + std::to_string(i))).string());
    }

    static constexpr std::chrono::seconds kLimit{20};
    // Rest times run on this clock; a whole second on it is a whole second of waiting.
    platform::ManualClock clock;
    TempDir local;
    engine::Engine transferEngine{slowPassOptions()};
    core::QueueList &queue = transferEngine.queue();
    engine::Scheduler &scheduler = transferEngine.scheduler();
};

TEST_F(EventStartTest, EveryFreeSlotOfASiteFillsAtOnce)
{
    SilentListener silent;
    test::setQueueDefault(queue, &core::QueueDefaults::perSiteLimit, 4);
    scheduler.setMaxThreads(10);
    addSilentItems(silent, 6);
    ASSERT_TRUE(scheduler.startScheduler());
    ASSERT_TRUE(waitUntil([&] { return scheduler.jobCount() == 4; }, kLimit));
    // The per-site limit holds: no fifth job joins however often the scheduler is woken.
    addSilentItems(silent, 2);
    scheduler.wake();
    ASSERT_TRUE(waitUntil([&] { return scheduler.passCount() >= 6; }, kLimit));
    EXPECT_EQ(scheduler.jobCount(), 4);
    EXPECT_EQ(scheduler.peakJobCount(), 4);
}

TEST_F(EventStartTest, ItemsAddedWhileRunningStartAJobAtOnce)
{
    SilentListener silent;
    ASSERT_TRUE(scheduler.startScheduler());
    ASSERT_TRUE(waitUntil([&] { return scheduler.passCount() >= 1; }, kLimit));
    EXPECT_EQ(scheduler.jobCount(), 0);
    addSilentItems(silent, 1);
    ASSERT_TRUE(waitUntil([&] { return scheduler.jobCount() == 1; }, kLimit));
}

TEST_F(EventStartTest, ASiteWhoseRestEndsGetsAJobWithoutWaitingForThePass)
{
    SilentListener silent;
    const auto id = queue.addItem(
        "ftp://127.0.0.1:" + std::to_string(silent.port()) + "/rested", (local / "rested").string(), 0, 0);
    // It ended just now, so its site rests for this second.
    queue.finishItem(id, core::ItemStatus::StatusTransferFailed);
    ASSERT_TRUE(scheduler.startScheduler());
    ASSERT_TRUE(waitUntil([&] { return scheduler.passCount() >= 1; }, kLimit));
    EXPECT_EQ(scheduler.jobCount(), 0);
    clock.advance(1);
    ASSERT_TRUE(waitUntil(
        [&] { return core::isInProgressStatus(core::snapshotOrVanished(queue, id).status); }, kLimit));
    // The job may take its item a moment before the scheduler counts it, and may already have given
    // up on the silent server: the peak says that one started.
    ASSERT_TRUE(waitUntil([&] { return scheduler.peakJobCount() == 1; }, kLimit));
    EXPECT_LT(scheduler.passCount(), 5);
}

} // namespace
} // namespace bw::test
