// SPDX-License-Identifier: MIT
#include <atomic>

#include <gtest/gtest.h>

#include "core/worker_thread.h"
#include "platform/auto_reset_event.h"

namespace bw::core {
namespace {

// Runs until released, so tests control when Run returns.
class GatedThread : public WorkerThread
{
public:
    ~GatedThread() override { finishBeforeDestruction(); }

    platform::AutoResetEvent release;
    std::atomic<int> runs{0};

protected:
    int Run() override
    {
        ++runs;
        release.wait();
        return 42;
    }
};

TEST(WorkerThread, SecondStartFailsUntilCollected)
{
    GatedThread thread;
    ASSERT_TRUE(thread.start());
    EXPECT_TRUE(thread.isRunning());
    EXPECT_FALSE(thread.start());
    EXPECT_FALSE(thread.isFinished());
    thread.release.set();
    thread.waitUntilStopped();
    EXPECT_TRUE(thread.isFinished());
    EXPECT_EQ(thread.result(), 42);
    EXPECT_TRUE(thread.isFinished()); // no thread left: still finished
    ASSERT_TRUE(thread.start());
    thread.release.set();
    thread.waitUntilStopped();
    EXPECT_EQ(thread.runs.load(), 2);
}

TEST(WorkerThread, StopRequestIsAFlagOnly)
{
    GatedThread thread;
    EXPECT_FALSE(thread.stopRequested());
    thread.requestStop();
    EXPECT_TRUE(thread.stopRequested());
    thread.requestStop(false);
    EXPECT_FALSE(thread.stopRequested());
    EXPECT_TRUE(thread.isFinished()); // never started
}

TEST(WorkerThread, DestructorWaitsForRun)
{
    std::atomic<bool> ended{false};

    class Slow : public WorkerThread
    {
    public:
        explicit Slow(std::atomic<bool> &flag)
            : m_flag(flag)
        {}

        ~Slow() override { finishBeforeDestruction(); }

        platform::AutoResetEvent started;

    protected:
        int Run() override
        {
            started.set();
            while (!stopRequested()) {}
            m_flag = true;
            return 0;
        }

    private:
        std::atomic<bool> &m_flag;
    };

    {
        Slow slow(ended);
        ASSERT_TRUE(slow.start());
        slow.started.wait();
        slow.requestStop();
    }
    EXPECT_TRUE(ended.load());
}

} // namespace
} // namespace bw::core
