// SPDX-License-Identifier: MIT
// Which item a worker runs next: the QueueList's selection rules, kept apart from its plain accessors.
#include <algorithm>
#include <array>
#include <limits>
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

// Whether an item of the kind may be taken in the pass.
bool qualifies(TakeKind kind, Pass pass)
{
    const bool reconnect = kind == TakeKind::Reconnect;
    return (pass.preferManual && kind == TakeKind::Manual) || (!pass.preferManual && !reconnect)
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

// Whether a new worker may start on the site now: every item of it has rested (a site is ready only as
// a whole, wherever its items stand in the list) and it is below the limit.
bool isOpen(const SelectionIndex::Site &site, std::int64_t now, std::int32_t limit)
{
    return site.rested(now) && !limitReached(site.running, limit, false);
}

// The order key of the site's first item that the pass may take.
std::uint64_t firstInPass(const SelectionIndex::Site &site, Pass pass)
{
    std::uint64_t first = SelectionIndex::kNoItem;
    for (std::size_t kind = 0; kind < kTakeKinds; ++kind) {
        if (qualifies(static_cast<TakeKind>(kind), pass))
            first = std::min(first, site.first[kind]);
    }
    return first;
}

} // namespace

std::int32_t QueueList::connectionsForItem(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    const std::size_t index = indexOf(id);
    if (m_defaults.perSiteLimit <= 0)
        return std::numeric_limits<std::int32_t>::max();
    const std::vector<SelectionIndex::Site> &sites = m_index.sites();
    const std::uint32_t site = index == kMissing ? 0 : m_siteOf[index];
    const std::int32_t running = index != kMissing && site < sites.size() ? sites[site].running : 1;
    return std::max(1, m_defaults.perSiteLimit - running + 1);
}

// The caller's own site needs no rest time and counts the caller's item as its own. Only the site's own
// items are looked at, so a worker that goes on with its site costs one walk over the site numbers.
std::ptrdiff_t QueueList::chooseSameSite(std::uint32_t site, bool continuing) const
{
    const std::vector<SelectionIndex::Site> &sites = m_index.sites();
    const std::int32_t running = site < sites.size() ? sites[site].running : 0;
    if (limitReached(running, m_defaults.perSiteLimit, continuing))
        return -1;
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < m_siteOf.size(); ++i) {
        if (m_siteOf[i] == site && m_facts[i].kind != TakeKind::None)
            members.push_back(i);
    }
    for (const Pass pass : kPasses) {
        bool looksLikeRatioSite = false;
        std::ptrdiff_t first = -1;
        std::ptrdiff_t upload = -1;
        for (const std::size_t i : members) {
            const QueueItem &item = m_items[i];
            if (!qualifies(m_facts[i].kind, pass))
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
            // Only FTP servers keep download ratios: an SFTP upload is not sent ahead for them.
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
// is below its limit. The index knows each site's first item of every kind, so this reads a few figures
// per site and never walks the items.
std::ptrdiff_t QueueList::chooseOtherSite(std::optional<std::uint32_t> callerSite) const
{
    const std::int64_t now = m_clock.nowSeconds();
    const std::vector<SelectionIndex::Site> &sites = m_index.sites();
    std::array<std::uint64_t, kPasses.size()> first;
    first.fill(SelectionIndex::kNoItem);
    for (std::uint32_t number = 0; number < sites.size(); ++number) {
        const SelectionIndex::Site &site = sites[number];
        if (number == callerSite || !site.hasWork() || !isOpen(site, now, m_defaults.perSiteLimit))
            continue;
        for (std::size_t pass = 0; pass < kPasses.size(); ++pass)
            first[pass] = std::min(first[pass], firstInPass(site, kPasses[pass]));
    }
    for (const std::uint64_t order : first) {
        if (order != SelectionIndex::kNoItem)
            return static_cast<std::ptrdiff_t>(indexOfOrder(order));
    }
    return -1;
}

void QueueList::setTryLimit(std::int32_t tries)
{
    std::lock_guard lock{m_mutex};
    m_tryLimit = tries;
    for (std::size_t i = 0; i < m_items.size(); ++i)
        refreshAt(i);
}

bool QueueList::mayTake(const QueueItem &item) const
{
    if (item.endedForGood)
        return false;
    if (!item.isEligible() || m_tryLimit < 0)
        return item.isEligible();
    return item.ends < (m_tryLimit == 0 ? item.retryCount : m_tryLimit);
}

TakeKind QueueList::takeKind(const QueueItem &item) const
{
    if (!mayTake(item))
        return TakeKind::None;
    if (item.status == ItemStatus::StatusReconnectAfterTransfers)
        return TakeKind::Reconnect;
    return isManualRequest(item) ? TakeKind::Manual : TakeKind::Ordinary;
}

bool QueueList::anyEligible() const
{
    std::lock_guard lock{m_mutex};
    const std::int64_t now = m_clock.nowSeconds();
    const std::vector<SelectionIndex::Site> &sites = m_index.sites();
    return std::any_of(sites.begin(), sites.end(), [&](const SelectionIndex::Site &site) {
        return site.hasWork() && isOpen(site, now, m_defaults.perSiteLimit);
    });
}

std::optional<std::int64_t> QueueList::nextRestEnd() const
{
    std::lock_guard lock{m_mutex};
    const std::int64_t now = m_clock.nowSeconds();
    std::optional<std::int64_t> next;
    for (const SelectionIndex::Site &site : m_index.sites()) {
        if (!site.hasWork())
            continue;
        // The site is ready in the second after the latest rest end of its items.
        std::int64_t end = 0;
        if (site.rests && site.latestRestEnd != std::numeric_limits<std::int64_t>::max())
            end = std::max(end, site.latestRestEnd + 1);
        else if (site.rests)
            end = site.latestRestEnd;
        if (end > now && (!next || end < *next))
            next = end;
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
    item.stoppedByUser = false;
    refreshAt(index);
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
    const std::optional<std::uint32_t> site = m_sites.find(host, port, user);
    if (!site)
        return;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_siteOf[i] == *site && m_items[i].status == ItemStatus::StatusRatioNeedsUpload) {
            m_items[i].status = ItemStatus::StatusRatioRecheck;
            refreshAt(i);
        }
    }
}

} // namespace bw::core
