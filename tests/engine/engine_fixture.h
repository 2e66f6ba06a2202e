// SPDX-License-Identifier: MIT
// An engine with a fast scheduler for end-to-end engine tests, and a notifier that records what the
// engine reported.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/queue_list.h"
#include "core/queue_notifier.h"
#include "engine/engine.h"
#include "support/queue_defaults.h"
#include "support/wait_until.h"

namespace bw::test {

class RecordingNotifier : public core::QueueNotifier
{
public:
    void notify(unsigned message, std::uint64_t, std::int64_t itemId, const std::string &text) override
    {
        if (message == core::kWmQueueChanged) {
            // Called on the worker's thread without any queue lock held, as the window would be.
            std::lock_guard lock{m_changeMutex};
            if (m_onChange)
                m_onChange(itemId);
            return;
        }
        std::lock_guard lock{m_mutex};
        m_lines.push_back(text);
    }

    // Waits for a call under way, so a cleared callback is never running afterwards.
    void setOnChange(std::function<void(std::int64_t)> onChange)
    {
        std::lock_guard lock{m_changeMutex};
        m_onChange = std::move(onChange);
    }

    // Clears the callback when it goes out of scope: declared after what the callback uses, it ends the
    // calls before that goes (workers may still report after the test's last check).
    class ChangeWatch
    {
    public:
        explicit ChangeWatch(RecordingNotifier &notifier)
            : m_notifier(notifier)
        {}

        ~ChangeWatch() { m_notifier.setOnChange(nullptr); }

        ChangeWatch(const ChangeWatch &) = delete;
        ChangeWatch &operator=(const ChangeWatch &) = delete;

    private:
        RecordingNotifier &m_notifier;
    };

    [[nodiscard]] std::unique_ptr<ChangeWatch> watchChanges(std::function<void(std::int64_t)> onChange)
    {
        setOnChange(std::move(onChange));
        return std::make_unique<ChangeWatch>(*this);
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard lock{m_mutex};
        return m_lines;
    }

    bool sawLine(const std::string &line) const
    {
        const auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

    int count(const std::string &line) const
    {
        const auto all = lines();
        return static_cast<int>(std::count(all.begin(), all.end(), line));
    }

private:
    std::mutex m_changeMutex; // guards m_onChange and is held while it runs
    std::function<void(std::int64_t)> m_onChange;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// The statuses one item passes through from its construction on, as the window sees them change.
class StatusTrail
{
public:
    StatusTrail(RecordingNotifier &notifier, core::QueueList &queue, std::int32_t id)
        : m_watch(notifier.watchChanges([this, &queue, id](std::int64_t changed) {
            if (changed != id)
                return;
            const core::ItemStatus status = core::snapshotOrVanished(queue, id).status;
            std::lock_guard lock{m_mutex};
            m_seen.insert(status);
        }))
    {}

    bool saw(core::ItemStatus status) const
    {
        std::lock_guard lock{m_mutex};
        return m_seen.count(status) != 0;
    }

private:
    mutable std::mutex m_mutex;
    std::set<core::ItemStatus> m_seen; // guarded by m_mutex
    // Last, so that the calls end before what they use goes.
    std::unique_ptr<RecordingNotifier::ChangeWatch> m_watch;
};

// Short passes so that tests do not wait five seconds for every new job.
inline engine::SchedulerTiming fastTiming()
{
    return {std::chrono::milliseconds(40), std::chrono::milliseconds(20)};
}

class EngineTest : public ::testing::Test
{
protected:
    EngineTest()
        : EngineTest(fastOptions())
    {}

    explicit EngineTest(const engine::EngineOptions &options)
        : transferEngine{options}
    {
        // Sites rest no time at all, so that retries and redirects start at once.
        test::setQueueDefault(queue, &core::QueueDefaults::retryTime, -1);
        test::setQueueDefault(queue, &core::QueueDefaults::timeout, 10);
        queue.setNotifier(&notifier);
    }

    ~EngineTest() override
    {
        transferEngine.stopAndWait();
        queue.setNotifier(nullptr);
    }

    void start() { ASSERT_TRUE(scheduler.startScheduler()); }

    // Waits until every item is done or has ended with a final status that is not a success.
    bool waitAllSettled(std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        return waitUntil(
            [this] {
                // One look at every item at once: an item that ends after its follow-up was added must
                // not hide the follow-up from a look that walked the ids first.
                for (const core::ItemState &state : queue.states()) {
                    if (core::isInProgressStatus(state.status)
                        || state.status == core::ItemStatus::StatusIdle)
                        return false;
                }
                return true;
            },
            limit);
    }

    // Waits until item `id` has `status`; ends at once when the item reaches a final status that cannot
    // lead there (a login the server refused fails the test now, not after the limit).
    ::testing::AssertionResult waitStatus(
        int id, core::ItemStatus status, std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        core::ItemStatus last = core::snapshotOrVanished(queue, id).status;
        const auto current = [&] {
            return last = core::snapshotOrVanished(queue, id).status;
        };
        const WaitEnd end = waitUntilUnless(
            [&] { return current() == status; }, [&] { return isDeadEndStatus(current()); }, limit);
        if (end == WaitEnd::Reached)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
            << "item " << id << (end == WaitEnd::WrongState ? " ended " : " still ") << core::statusText(last)
            << " (" << static_cast<int>(last) << ") while waiting for " << core::statusText(status) << " ("
            << static_cast<int>(status) << ")";
    }

    // Final statuses that no retry changes: done ones, and those where the URL or the login is wrong.
    static bool isDeadEndStatus(core::ItemStatus status)
    {
        using core::ItemStatus;
        return core::isDoneStatus(status) || status == ItemStatus::StatusBadUrl
            || status == ItemStatus::StatusInvalidUser || status == ItemStatus::StatusInvalidPassword;
    }

    // Item ids whose URL text ends with `tail`.
    std::vector<std::int32_t> idsEndingWith(const std::string &tail)
    {
        std::vector<std::int32_t> out;
        for (const auto id : queue.ids()) {
            if (core::snapshotOrVanished(queue, id).url.ends_with(tail))
                out.push_back(id);
        }
        return out;
    }

    static engine::EngineOptions fastOptions()
    {
        engine::EngineOptions options;
        options.schedulerTiming = fastTiming();
        options.jobTiming = engine::TransferJobTiming{nullptr, std::chrono::seconds(3), 20};
        options.jobTiming.netrcPath.clear(); // the developer's own logins stay out of the tests
        return options;
    }

    RecordingNotifier notifier;
    engine::Engine transferEngine{fastOptions()};
    core::QueueList &queue = transferEngine.queue();
    engine::Scheduler &scheduler = transferEngine.scheduler();
    engine::LeaseBoard &leases = transferEngine.leases();
};

} // namespace bw::test
