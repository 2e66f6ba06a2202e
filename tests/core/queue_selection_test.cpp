// SPDX-License-Identifier: MIT
// The selection against a plain reading of its rules: every walk compares sites by their texts and
// judges each site afresh, with nothing precomputed. Random queues (with statuses, rest times, manual
// requests, uploads, removals and changed URLs) must give the same choice and the same attempts.
#include <algorithm>
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
    ReferenceSelection(std::vector<QueueItem> items, std::int32_t limit, std::int64_t now)
        : m_items(std::move(items))
        , m_limit(limit)
        , m_now(now)
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

private:
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
            if (!item.isEligible())
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
                if (upload == -1 && item.scheme == SchemeFtpUpload)
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

} // namespace
} // namespace bw::core
