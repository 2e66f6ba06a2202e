// SPDX-License-Identifier: MIT
// Which item a worker runs next: the QueueList's selection rules, kept apart from its plain accessors.
#include <algorithm>
#include <array>
#include <string_view>

#include "core/queue_list.h"

namespace bw::core {

namespace {

// The three walks of a selection: manual-connection requests, then ordinary items, then both with the
// items parked for a manual reconnect.
struct Pass
{
    bool preferManual;
    bool takeReconnect;
};

constexpr std::array<Pass, 3> kPasses{{{true, false}, {false, false}, {true, true}}};

// A request for a manual connection that has not been parked for a reconnect.
bool isManualRequest(const QueueItem &item)
{
    return item.localPath.empty() && !item.automatic
        && item.status != ItemStatus::StatusReconnectAfterTransfers;
}

// Whether an eligible item may be taken in the pass.
bool qualifies(const QueueItem &item, Pass pass)
{
    const bool reconnect = item.status == ItemStatus::StatusReconnectAfterTransfers;
    return (pass.preferManual && isManualRequest(item)) || (!pass.preferManual && !reconnect)
        || (pass.takeReconnect && reconnect);
}

// 0 means no limit; a negative limit cannot be met either, so it blocks nothing rather than everything.
// `continuing`: the caller's own item is among the running ones and may be followed by one more.
bool limitReached(std::int32_t running, std::int32_t limit, bool continuing)
{
    if (limit <= 0)
        return false;
    return continuing ? running > limit : running >= limit;
}

// What one selection pass knows about every site, from one walk over the items: how many of its items
// are in progress, and whether every one of them has rested longer than its own retry time since its
// last final status (a site is ready only as a whole, wherever its items stand in the list).
struct SiteVerdicts
{
    std::vector<std::int32_t> running;
    std::vector<char> ready;

    SiteVerdicts(const std::vector<QueueItem> &items, const std::vector<std::uint32_t> &siteOf,
        std::size_t sites, std::int64_t now)
        : running(sites, 0)
        , ready(sites, 1)
    {
        for (std::size_t i = 0; i < items.size(); ++i) {
            const std::uint32_t site = siteOf[i];
            running[site] += items[i].isInProgress() ? 1 : 0;
            if (ready[site] && !items[i].retryDelayPassed(now))
                ready[site] = 0;
        }
    }

    // Whether a new worker may start on the site now.
    bool open(std::uint32_t site, std::int32_t limit) const
    {
        return ready[site] && !limitReached(running[site], limit, false);
    }
};

} // namespace

// The caller's own site needs no rest time and counts the caller's item as its own. Only the site's own
// items are looked at, so a worker that goes on with its site costs one walk over the site numbers.
std::ptrdiff_t QueueList::chooseSameSite(std::uint32_t site, bool continuing) const
{
    std::vector<std::size_t> members;
    std::int32_t running = 0;
    for (std::size_t i = 0; i < m_siteOf.size(); ++i) {
        if (m_siteOf[i] != site)
            continue;
        members.push_back(i);
        running += m_items[i].isInProgress() ? 1 : 0;
    }
    if (limitReached(running, m_defaults.perSiteLimit, continuing))
        return -1;
    for (const Pass pass : kPasses) {
        bool looksLikeRatioSite = false;
        std::ptrdiff_t first = -1;
        std::ptrdiff_t upload = -1;
        for (const std::size_t i : members) {
            const QueueItem &item = m_items[i];
            if (!mayTake(item) || !qualifies(item, pass))
                continue;
            // A refused download is never retried on its own site.
            if (item.status == ItemStatus::StatusRatioNeedsUpload
                || item.status == ItemStatus::StatusRatioActive) {
                looksLikeRatioSite = true;
                continue;
            }
            if (item.status == ItemStatus::StatusRatioRecheck)
                looksLikeRatioSite = true;
            const auto index = static_cast<std::ptrdiff_t>(i);
            if (first == -1)
                first = index;
            if (upload == -1 && isFtpUploadScheme(item.scheme))
                upload = index;
        }
        // A site that refuses downloads until something is uploaded: send the upload first.
        if (!pass.preferManual && !pass.takeReconnect && looksLikeRatioSite && upload != -1)
            first = upload;
        if (first != -1)
            return first;
    }
    return -1;
}

// A worker that has to change site takes the first item, in list order, of a site that has rested and
// is below its limit.
std::ptrdiff_t QueueList::chooseOtherSite(std::optional<std::uint32_t> callerSite) const
{
    const SiteVerdicts sites(m_items, m_siteOf, m_sites.size(), m_clock.nowSeconds());
    for (const Pass pass : kPasses) {
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            const std::uint32_t site = m_siteOf[i];
            const QueueItem &item = m_items[i];
            if (site == callerSite || !mayTake(item) || !qualifies(item, pass))
                continue;
            if (sites.open(site, m_defaults.perSiteLimit))
                return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

void QueueList::setTryLimit(std::int32_t tries)
{
    std::lock_guard lock{m_mutex};
    m_tryLimit = tries;
}

bool QueueList::mayTake(const QueueItem &item) const
{
    if (!item.isEligible() || m_tryLimit < 0)
        return item.isEligible();
    return item.ends < (m_tryLimit == 0 ? item.retryCount : m_tryLimit);
}

bool QueueList::anyEligible() const
{
    std::lock_guard lock{m_mutex};
    const SiteVerdicts sites(m_items, m_siteOf, m_sites.size(), m_clock.nowSeconds());
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (mayTake(m_items[i]) && sites.open(m_siteOf[i], m_defaults.perSiteLimit))
            return true;
    }
    return false;
}

std::optional<std::int64_t> QueueList::nextRestEnd() const
{
    std::lock_guard lock{m_mutex};
    const std::int64_t now = m_clock.nowSeconds();
    // A site is ready once every item of it has rested: at the latest of its items' rest ends.
    std::vector<std::int64_t> restEnd(m_sites.size(), 0);
    std::vector<char> hasWork(m_sites.size(), 0);
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        const QueueItem &item = m_items[i];
        const std::uint32_t site = m_siteOf[i];
        if (item.statusTime >= 0)
            restEnd[site] = std::max(restEnd[site], item.statusTime + std::int64_t{item.retryTime} + 1);
        hasWork[site] = hasWork[site] || mayTake(item);
    }
    std::optional<std::int64_t> next;
    for (std::size_t site = 0; site < restEnd.size(); ++site) {
        if (hasWork[site] && restEnd[site] > now && (!next || restEnd[site] < *next))
            next = restEnd[site];
    }
    return next;
}

Selection QueueList::selectNext(
    std::string_view host, std::int32_t port, std::string_view user, bool continuing)
{
    std::lock_guard lock{m_mutex};
    // An item of the caller's own site wins in every pass; another site's item only when the caller's
    // site has none left.
    const std::optional<std::uint32_t> callerSite = m_sites.find(host, port, user);
    std::ptrdiff_t chosen = callerSite ? chooseSameSite(*callerSite, continuing) : -1;
    if (chosen == -1)
        chosen = chooseOtherSite(callerSite);

    Selection selection;
    if (chosen == -1)
        return selection;
    const auto index = static_cast<std::size_t>(chosen);
    QueueItem &item = m_items[index];
    item.setActive();
    selection.found = true;
    selection.id = item.id;
    selection.host = item.host;
    selection.port = item.port;
    selection.user = item.user;
    selection.password = item.password;
    if (!continuing) {
        // A new login on the site: every item of the site counts one more attempt.
        const std::uint32_t site = m_siteOf[index];
        std::int32_t attempts = item.attempts;
        if (attempts != 0) {
            for (std::size_t i = 0; i < m_items.size(); ++i) {
                if (m_siteOf[i] == site)
                    attempts = std::max(attempts, m_items[i].attempts);
            }
        }
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (m_siteOf[i] == site)
                m_items[i].attempts = attempts + 1;
        }
    }
    return selection;
}

void QueueList::markRatioRecheck(std::string_view host, std::int32_t port, std::string_view user)
{
    std::lock_guard lock{m_mutex};
    for (QueueItem &item : m_items) {
        if (item.status == ItemStatus::StatusRatioNeedsUpload && item.isSameSite(host, port, user))
            item.status = ItemStatus::StatusRatioRecheck;
    }
}

} // namespace bw::core
