// SPDX-License-Identifier: MIT
// The selection against a plain reading of its rules: every walk compares sites by their texts and
// judges each site afresh, with nothing precomputed. Random queues (with statuses, rest times, manual
// requests, uploads, removals and changed URLs) must give the same choice and the same attempts.
#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/queue_list.h"

namespace bw::core {
namespace {

using enum ItemStatus;

struct Caller
{
    std::string host;
    std::int32_t port = 0;
    std::string user;
    bool continuing = false;
};

class ReferenceSelection
{
public:
    ReferenceSelection(
        std::vector<QueueItem> items, std::int32_t limit, std::int64_t now, std::int32_t tryLimit = -1)
        : m_items(std::move(items))
        , m_limit(limit)
        , m_now(now)
        , m_tryLimit(tryLimit)
    {}

    // The chosen id (0 for none); marks the item Active and counts attempts as the queue does.
    std::int32_t select(const Caller &caller)
    {
        std::ptrdiff_t same = -1;
        std::ptrdiff_t other = -1;
        scan(caller, true, false, same, other);
        if (same == -1)
            scan(caller, false, false, same, other);
        if (same == -1)
            scan(caller, true, true, same, other);
        const std::ptrdiff_t chosen = same != -1 ? same : other;
        if (chosen == -1)
            return 0;
        QueueItem &item = m_items[static_cast<std::size_t>(chosen)];
        item.setActive();
        if (!caller.continuing) {
            std::int32_t attempts = item.attempts;
            if (attempts != 0) {
                for (const QueueItem &each : m_items) {
                    if (each.isSameSite(item))
                        attempts = std::max(attempts, each.attempts);
                }
            }
            const QueueItem chosenCopy = item;
            for (QueueItem &each : m_items) {
                if (each.isSameSite(chosenCopy))
                    each.attempts = attempts + 1;
            }
        }
        return item.id;
    }

    const std::vector<QueueItem> &items() const { return m_items; }

    // The second at which the first resting site with work left is ready: the site's latest item rest
    // end, plus one.
    std::optional<std::int64_t> nextRestEnd() const
    {
        std::optional<std::int64_t> next;
        for (const QueueItem &item : m_items) {
            if (!mayTake(item))
                continue;
            std::int64_t end = 0;
            for (const QueueItem &each : m_items) {
                if (each.isSameSite(item) && each.statusTime >= 0)
                    end = std::max(end, each.statusTime + each.retryTime + 1);
            }
            if (end > m_now && (!next || end < *next))
                next = end;
        }
        return next;
    }

private:
    bool mayTake(const QueueItem &item) const
    {
        if (!item.isEligible())
            return false;
        return m_tryLimit < 0 || item.ends < (m_tryLimit == 0 ? item.retryCount : m_tryLimit);
    }

    bool limitReached(const QueueItem &item, bool continuing) const
    {
        if (m_limit <= 0)
            return false;
        const auto running = std::count_if(m_items.begin(), m_items.end(),
            [&](const QueueItem &each) { return each.isSameSite(item) && each.isInProgress(); });
        return continuing ? running > m_limit : running >= m_limit;
    }

    bool ready(const QueueItem &item) const
    {
        return std::all_of(m_items.begin(), m_items.end(),
            [&](const QueueItem &each) { return !each.isSameSite(item) || each.retryDelayPassed(m_now); });
    }

    void scan(const Caller &caller, bool preferManual, bool takeReconnect, std::ptrdiff_t &same,
        std::ptrdiff_t &other) const
    {
        bool ratio = false;
        std::ptrdiff_t upload = -1;
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            const QueueItem &item = m_items[i];
            if (!mayTake(item))
                continue;
            const bool reconnect = item.status == StatusReconnectAfterTransfers;
            const bool manual = item.localPath.empty() && !item.automatic && !reconnect;
            const bool qualifies =
                (preferManual && manual) || (!preferManual && !reconnect) || (takeReconnect && reconnect);
            const auto index = static_cast<std::ptrdiff_t>(i);
            if (item.isSameSite(caller.host, caller.port, caller.user)) {
                if (limitReached(item, caller.continuing) || !qualifies)
                    continue;
                if (item.status == StatusRatioNeedsUpload || item.status == StatusRatioActive) {
                    ratio = true;
                    continue;
                }
                ratio = ratio || item.status == StatusRatioRecheck;
                if (same == -1)
                    same = index;
                if (upload == -1 && isFtpUploadScheme(item.scheme))
                    upload = index;
            } else if (other == -1 && qualifies && ready(item) && !limitReached(item, false)) {
                other = index;
            }
        }
        if (!preferManual && !takeReconnect && ratio && upload != -1)
            same = upload;
    }

    std::vector<QueueItem> m_items;
    std::int32_t m_limit;
    std::int64_t m_now;
    std::int32_t m_tryLimit;
};

class QueueSelectionTest : public ::testing::Test
{
protected:
    std::string randomUrl()
    {
        static const char *const kHosts[] = {"a", "b", "c"};
        static const char *const kUsers[] = {"", "bob@"};
        static const char *const kPorts[] = {"", ":2121"};
        static const char *const kSchemes[] = {"ftp://", "ftp://", "ftpu://", "http://"};
        // Now and then a site of its own, so that sites come and go and get numbered afresh.
        const std::string host =
            pick(10) == 0 ? "lone" + std::to_string(m_lone++) : std::string(kHosts[pick(3)]);
        return std::string(kSchemes[pick(4)]) + kUsers[pick(2)] + host + kPorts[pick(2)] + "/f"
            + std::to_string(pick(1000));
    }

    std::int32_t pick(std::int32_t below)
    {
        return std::uniform_int_distribution<std::int32_t>(0, below - 1)(m_random);
    }

    ItemStatus randomStatus()
    {
        static const ItemStatus kStatuses[] = {StatusIdle, StatusIdle, StatusError, StatusRatioNeedsUpload,
            StatusRatioRecheck, StatusBadUrl, StatusReconnectAfterTransfers, StatusActive, StatusTransferring,
            StatusRatioActive, StatusFinished, StatusTooManyConnections};
        return kStatuses[pick(std::size(kStatuses))];
    }

    // One random change of the queue.
    void change()
    {
        const std::vector<std::int32_t> ids = queue.ids();
        const std::int32_t any =
            ids.empty() ? 0 : ids[static_cast<std::size_t>(pick(static_cast<std::int32_t>(ids.size())))];
        switch (pick(7)) {
        case 0:
        case 1:
            queue.addItem(randomUrl(), pick(5) == 0 ? "" : "/dl/x", 0, pick(3) * 10);
            break;
        case 2:
            queue.finishItem(any, randomStatus());
            break;
        case 3:
            queue.setStatus(any, randomStatus());
            break;
        case 4:
            queue.removeItem(any);
            break;
        case 5:
            queue.setUrl(any, randomUrl());
            break;
        default:
            queue.setAttempts(any, pick(3));
            clock.advance(pick(15));
            break;
        }
    }

    Caller randomCaller()
    {
        static const Caller kCallers[] = {
            {"", 0, "", false},
            {"a", 21, kAnonymousUser, true},
            {"a", 21, kAnonymousUser, false},
            {"b", 2121, "bob", true},
            {"c", 80, kAnonymousUser, true},
            {"nowhere", 21, kAnonymousUser, true},
        };
        return kCallers[pick(std::size(kCallers))];
    }

    std::mt19937 m_random{20261207};
    int m_lone = 0;
    platform::ManualClock clock{1'000'000};
    QueueList queue{clock};
};

TEST_F(QueueSelectionTest, ChoosesAsThePlainRulesDo)
{
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        change();
        if (round % 200 == 0)
            queue.setDefaults({.perSiteLimit = pick(3)});
        const Caller caller = randomCaller();
        ReferenceSelection reference(queue.snapshot(), queue.defaults().perSiteLimit, clock.nowSeconds());
        const bool anyForANewWorker =
            ReferenceSelection(queue.snapshot(), queue.defaults().perSiteLimit, clock.nowSeconds())
                .select({"", -1, "", false})
            != 0;
        ASSERT_EQ(queue.anyEligible(), anyForANewWorker);

        const std::int32_t expected = reference.select(caller);
        const Selection selection =
            queue.selectNext(caller.host, caller.port, caller.user, caller.continuing);
        ASSERT_EQ(selection.found ? selection.id : 0, expected)
            << caller.host << ":" << caller.port << " " << caller.user << " continuing " << caller.continuing;
        const std::vector<QueueItem> after = queue.snapshot();
        ASSERT_EQ(after.size(), reference.items().size());
        for (std::size_t i = 0; i < after.size(); ++i) {
            ASSERT_EQ(after[i].id, reference.items()[i].id);
            ASSERT_EQ(after[i].status, reference.items()[i].status) << after[i].url;
            ASSERT_EQ(after[i].attempts, reference.items()[i].attempts) << after[i].url;
        }
        // Items taken here would pile up: most go back to the queue.
        if (selection.found && pick(3) != 0)
            queue.finishItem(selection.id, randomStatus());
    }
}

// Every operation that changes what the selection reads, drawn at random from a table, on queues
// that keep their figures from call to call; after each one the queue must choose, answer anyEligible
// and nextRestEnd as the plain rules do. The clock moves both ways, so rests end without any event.
class QueueChanges
{
public:
    explicit QueueChanges(unsigned seed)
        : m_random(seed)
    {}

    void run(int rounds)
    {
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(testing::Message() << "round " << round << " after " << m_last);
            change();
            compare();
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }

private:
    using Operation = void (QueueChanges::*)();

    struct Named
    {
        const char *name;
        Operation operation;
        int weight;
    };

    std::int32_t pick(std::int32_t below)
    {
        return std::uniform_int_distribution<std::int32_t>(0, below - 1)(m_random);
    }

    template <typename T, std::size_t N>
    const T &oneOf(const T (&choices)[N])
    {
        return choices[pick(static_cast<std::int32_t>(N))];
    }

    std::string randomUrl()
    {
        static const char *const kSchemes[] = {"ftp://", "ftp://", "ftpu://", "ftpesu://", "http://"};
        static const char *const kUsers[] = {"", "bob@"};
        static const char *const kHosts[] = {"a", "b", "c", "d"};
        const std::string host = pick(12) == 0 ? "lone" + std::to_string(m_lone++) : oneOf(kHosts);
        return std::string(oneOf(kSchemes)) + oneOf(kUsers) + host + "/f" + std::to_string(pick(100));
    }

    std::string randomLocalPath() { return pick(4) == 0 ? "" : "/dl/x"; }

    ItemStatus randomStatus()
    {
        static const ItemStatus kStatuses[] = {StatusIdle, StatusIdle, StatusError, StatusTimeout,
            StatusRatioNeedsUpload, StatusRatioRecheck, StatusBadUrl, StatusReconnectAfterTransfers,
            StatusActive, StatusConnecting, StatusTransferring, StatusRatioActive, StatusFinished,
            StatusQueuedForRemoval, StatusTooManyConnections, StatusInactiveManualConnection};
        return oneOf(kStatuses);
    }

    std::int32_t randomRetryTime()
    {
        static const std::int32_t kSeconds[] = {0, 5, 10, 30, -1, -20};
        return oneOf(kSeconds);
    }

    std::int32_t anyId()
    {
        const std::vector<std::int32_t> ids = m_queue.ids();
        // Now and then an id the queue does not hold.
        if (ids.empty() || pick(20) == 0)
            return 999'999;
        return ids[static_cast<std::size_t>(pick(static_cast<std::int32_t>(ids.size())))];
    }

    void add() { m_queue.addItem(randomUrl(), randomLocalPath(), 0, randomRetryTime(), pick(4)); }

    void addListed() { m_queue.addListedItem(randomUrl(), "/dl/y", anyId(), pick(2) == 0, 10); }

    // What a queue file load appends, here with statuses and rest times of every kind.
    void appendSeveral()
    {
        std::vector<QueueItem> items(static_cast<std::size_t>(pick(4)));
        for (QueueItem &item : items) {
            item.setUrl(randomUrl(), randomLocalPath());
            item.status = randomStatus();
            item.retryTime = randomRetryTime();
            item.statusTime = pick(2) == 0 ? -1 : m_clock.nowSeconds() - pick(40);
        }
        m_queue.appendItems(std::move(items));
    }

    void finish() { m_queue.finishItem(anyId(), randomStatus()); }

    void setStatus() { m_queue.setStatus(anyId(), randomStatus()); }

    void remove() { m_queue.removeItem(anyId()); }

    void setUrl() { m_queue.setUrl(anyId(), randomUrl()); }

    void setUrlAndPath() { m_queue.setUrl(anyId(), randomUrl(), randomLocalPath()); }

    void setRetryTime() { m_queue.setRetryTime(anyId(), randomRetryTime()); }

    void setRetryCount() { m_queue.setRetryCount(anyId(), pick(4)); }

    void resetForRetry() { m_queue.resetForRetry(anyId()); }

    void transfer()
    {
        const std::int32_t id = anyId();
        m_queue.transferStarted(id);
        if (pick(2) == 0)
            m_queue.transferEnded(id);
    }

    void markRatioRecheck()
    {
        static const char *const kHosts[] = {"a", "b", "c", "d"};
        m_queue.markRatioRecheck(oneOf(kHosts), 21, pick(2) == 0 ? kAnonymousUser : "bob");
    }

    void setAttempts() { m_queue.setAttempts(anyId(), pick(3)); }

    void setLimits()
    {
        m_queue.setDefaults({.perSiteLimit = pick(4) - 1});
        m_tryLimit = pick(4) - 1;
        m_queue.setTryLimit(m_tryLimit);
    }

    void moveClock()
    {
        if (pick(5) == 0)
            m_clock.set(m_clock.nowSeconds() - pick(30));
        else
            m_clock.advance(pick(20));
    }

    void select()
    {
        const Caller caller = oneOf(kCallers);
        ReferenceSelection reference(
            snapshot(), m_queue.defaults().perSiteLimit, m_clock.nowSeconds(), m_tryLimit);
        const std::int32_t expected = reference.select(caller);
        const Selection selection =
            m_queue.selectNext(caller.host, caller.port, caller.user, caller.continuing);
        ASSERT_EQ(selection.found ? selection.id : 0, expected)
            << caller.host << ":" << caller.port << " " << caller.user << " continuing " << caller.continuing;
        const std::vector<QueueItem> after = snapshot();
        ASSERT_EQ(after.size(), reference.items().size());
        for (std::size_t i = 0; i < after.size(); ++i) {
            ASSERT_EQ(after[i].id, reference.items()[i].id);
            ASSERT_EQ(after[i].status, reference.items()[i].status) << after[i].url;
            ASSERT_EQ(after[i].attempts, reference.items()[i].attempts) << after[i].url;
        }
    }

    void change()
    {
        static const Named kOperations[] = {
            {"add", &QueueChanges::add, 4},
            {"addListed", &QueueChanges::addListed, 1},
            {"appendSeveral", &QueueChanges::appendSeveral, 1},
            {"finish", &QueueChanges::finish, 4},
            {"setStatus", &QueueChanges::setStatus, 3},
            {"remove", &QueueChanges::remove, 4},
            {"setUrl", &QueueChanges::setUrl, 1},
            {"setUrlAndPath", &QueueChanges::setUrlAndPath, 1},
            {"setRetryTime", &QueueChanges::setRetryTime, 2},
            {"setRetryCount", &QueueChanges::setRetryCount, 1},
            {"resetForRetry", &QueueChanges::resetForRetry, 2},
            {"transfer", &QueueChanges::transfer, 1},
            {"markRatioRecheck", &QueueChanges::markRatioRecheck, 1},
            {"setAttempts", &QueueChanges::setAttempts, 1},
            {"setLimits", &QueueChanges::setLimits, 1},
            {"moveClock", &QueueChanges::moveClock, 4},
            {"select", &QueueChanges::select, 6},
        };
        int total = 0;
        for (const Named &named : kOperations)
            total += named.weight;
        int draw = pick(total);
        for (const Named &named : kOperations) {
            draw -= named.weight;
            if (draw < 0) {
                m_last = named.name;
                (this->*named.operation)();
                return;
            }
        }
    }

    void compare()
    {
        const std::int32_t limit = m_queue.defaults().perSiteLimit;
        const std::int64_t now = m_clock.nowSeconds();
        ReferenceSelection reference(snapshot(), limit, now, m_tryLimit);
        ASSERT_EQ(m_queue.nextRestEnd(), reference.nextRestEnd());
        ASSERT_EQ(m_queue.anyEligible(), reference.select({"", -1, "", false}) != 0);
    }

    std::vector<QueueItem> snapshot() const { return m_queue.snapshot(); }

    static constexpr Caller kCallers[] = {
        {"", 0, "", false},
        {"a", 21, kAnonymousUser, true},
        {"a", 21, kAnonymousUser, false},
        {"b", 21, "bob", true},
        {"b", 21, "bob", false},
        {"c", 80, kAnonymousUser, true},
        {"d", 21, kAnonymousUser, false},
        {"nowhere", 21, kAnonymousUser, true},
    };

    std::mt19937 m_random;
    int m_lone = 0;
    std::int32_t m_tryLimit = -1;
    const char *m_last = "nothing";
    platform::ManualClock m_clock{1'000'000};
    QueueList m_queue{m_clock};
};

TEST(QueueSelectionChangesTest, EveryChangeKeepsTheChoiceOfThePlainRules)
{
    for (unsigned seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        QueueChanges(seed).run(1000);
        if (HasFatalFailure())
            return;
    }
}

} // namespace
} // namespace bw::core
