// SPDX-License-Identifier: MIT
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "engine/connection_lease.h"
#include "net/error_code.h"
#include "support/wait_until.h"

namespace bw::engine {
namespace {

using namespace std::chrono_literals;

// A session whose only work is a step that lasts until somebody asks it to stop.
class StepSession final : public net::RemoteSession
{
public:
    // Returns once stopped; false when no stop came within the bound.
    bool runStep()
    {
        std::unique_lock lock{m_mutex};
        return m_stopped.wait_for(lock, 10s, [this] { return m_stopCode != 0; });
    }

    int stopCode() const
    {
        std::lock_guard lock{m_mutex};
        return m_stopCode;
    }

    void requestStop(int code) override
    {
        {
            std::lock_guard lock{m_mutex};
            m_stopCode = code;
        }
        m_stopped.notify_all();
    }

    bool isStopRequested() const override { return stopCode() != 0; }

    void stopTransfer(int) override {}

    void clearStop() override {}

    bool connect(const net::RemoteSite &) override { return true; }

    bool isLoggedIn() const override { return true; }

    bool isDroppedByServer() override { return false; }

    void applyItemSettings(const net::SessionItemSettings &) override {}

    bool currentFolder(std::string &) override { return true; }

    bool list(const std::string &, std::vector<net::ListingEntry> &) override { return true; }

    bool changeFolder(const std::string &) override { return true; }

    bool makeFolder(const std::string &) override { return true; }

    bool removeFile(const std::string &) override { return true; }

    bool removeFolder(const std::string &) override { return true; }

    bool rename(const std::string &, const std::string &) override { return true; }

    bool fileSize(const std::string &, std::int64_t &) override { return true; }

    bool get(
        const std::string &, const std::string &, std::int64_t, bool, const net::TransferProgress &) override
    {
        return true;
    }

    bool put(const std::string &, const std::string &, const net::TransferProgress &) override
    {
        return true;
    }

    net::ErrorCode error() const override { return {}; }

    bool clearErrorUnlessStopped() override { return true; }

    void setObserver(net::ConnectionObserver, void *) override {}

    void disconnect(int) override {}

    void close() override {}

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    int m_stopCode = 0; // guarded by m_mutex
};

// What the browser side does with the lease while the job waits.
enum class Holder
{
    Nobody, // nobody takes it
    GivesBack, // takes it and gives it back with a status
    Leaves, // takes it, then leaves it on offer
    StepsUntilRecalled, // takes it, runs a step that ends only when stopped, then gives it back
    Keeps, // takes it and never gives it back in time
};

struct LeaseCase
{
    const char *name;
    Holder holder;
    bool recall; // the job must stop (recalled from another thread)
    LeaseEnd end;
    std::int32_t status;
    int stopCode; // what the session was asked to stop with; 0 for nothing
};

class ConnectionLeaseTest : public testing::TestWithParam<LeaseCase>
{};

TEST_P(ConnectionLeaseTest, EndsAsTheHolderAndTheRecallDecide)
{
    const LeaseCase &c = GetParam();
    LeaseBoard board;
    auto session = std::make_shared<StepSession>();
    const std::shared_ptr<ConnectionLease> lease = board.offer(7, session, {"host", 21, "u", "p", 7});
    ASSERT_EQ(board.find(7), lease);

    std::atomic<bool> toldOfRecall{false};
    std::atomic<bool> took{false};
    std::shared_ptr<net::RemoteSession> kept; // the holder's share, held past the job's end
    std::thread holder([&] {
        if (c.holder == Holder::Nobody)
            return;
        std::shared_ptr<net::RemoteSession> held = board.find(7)->take([&] { toldOfRecall.store(true); });
        ASSERT_EQ(held, session);
        EXPECT_EQ(lease->take(), nullptr); // one holder at a time
        if (c.holder == Holder::Leaves)
            lease->release(); // before the recall: the lease is on offer again, held by nobody
        took.store(true);
        switch (c.holder) {
        case Holder::GivesBack:
            lease->giveBack(42);
            break;
        case Holder::Leaves:
            break;
        case Holder::StepsUntilRecalled:
            ASSERT_TRUE(session->runStep());
            EXPECT_TRUE(lease->isRecalled());
            lease->giveBack(43);
            break;
        case Holder::Keeps:
            kept = std::move(held);
            break;
        case Holder::Nobody:
            break;
        }
    });
    std::thread scheduler([&] {
        if (!c.recall)
            return;
        // Recalled while the holder is at work (or, with nobody, at once).
        if (c.holder != Holder::Nobody) {
            ASSERT_TRUE(test::waitUntil([&] { return took.load(); }));
        }
        lease->recall(net::StopByItem);
    });

    const LeaseOutcome outcome = lease->wait(c.holder == Holder::Keeps ? 200ms : 10s);
    scheduler.join();
    holder.join();
    board.remove(lease);

    EXPECT_EQ(outcome.end, c.end);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(session->stopCode(), c.stopCode);
    EXPECT_EQ(toldOfRecall.load(), c.stopCode != 0);
    EXPECT_TRUE(lease->hasEnded());
    EXPECT_EQ(lease->take(), nullptr); // an ended lease is nobody's to take
    EXPECT_EQ(board.find(7), nullptr);
    if (c.holder == Holder::Keeps) {
        EXPECT_EQ(kept, session); // still alive for the holder, whose late hand-back changes nothing
        lease->giveBack(44);
        EXPECT_FALSE(lease->isHeld());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConnectionLeaseTest,
    testing::Values(LeaseCase{"GivenBack", Holder::GivesBack, false, LeaseEnd::Returned, 42, 0},
        LeaseCase{"RecalledWithNobodyHolding", Holder::Nobody, true, LeaseEnd::Withdrawn, 0, 0},
        LeaseCase{
            "RecalledMidStep", Holder::StepsUntilRecalled, true, LeaseEnd::Returned, 43, net::StopByItem},
        LeaseCase{"RecalledAfterBeingLeft", Holder::Leaves, true, LeaseEnd::Withdrawn, 0, 0},
        LeaseCase{"KeptPastTheBound", Holder::Keeps, true, LeaseEnd::Abandoned, 0, net::StopByItem}),
    [](const testing::TestParamInfo<LeaseCase> &param) { return std::string(param.param.name); });

TEST(LeaseBoardTest, ANewerLeaseOfTheItemOutlivesTheRemovalOfTheOlder)
{
    LeaseBoard board;
    auto session = std::make_shared<StepSession>();
    const auto older = board.offer(3, session, {});
    const auto newer = board.offer(3, session, {});
    board.remove(older);
    EXPECT_EQ(board.find(3), newer);
    EXPECT_EQ(board.size(), 1u);
    board.remove(newer);
    EXPECT_EQ(board.size(), 0u);
}

} // namespace
} // namespace bw::engine
