// SPDX-License-Identifier: MIT
// Which item a worker runs next: the QueueList's selection rules, kept apart from its plain accessors.
#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "core/queue_list.h"

namespace bw::core {

namespace {

struct SiteKey
{
    std::string_view host;
    std::string_view user;
    std::int32_t port;

    bool operator==(const SiteKey &) const = default;
};

struct SiteKeyHash
{
    std::size_t operator()(const SiteKey &key) const
    {
        const std::hash<std::string_view> hash;
        return hash(key.host) ^ (hash(key.user) * 31)
            ^ (static_cast<std::size_t>(key.port) * 0x9E3779B97F4A7C15ULL);
    }
};

// A request for a manual connection that has not been parked for a reconnect.
bool isManualRequest(const QueueItem &item)
{
    return item.localPath.empty() && !item.automatic && item.status != StatusReconnectAfterTransfers;
}

} // namespace

// Clears the scratch flags and groups the items by site, once per pass.
void QueueList::beginPass()
{
    std::unordered_map<SiteKey, std::uint32_t, SiteKeyHash> siteNumbers;
    m_siteOf.resize(m_items.size());
    std::uint32_t sites = 0;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        QueueItem &item = m_items[i];
        item.scratch.clear();
        auto [it, added] = siteNumbers.try_emplace(SiteKey{item.host, item.user, item.port}, sites);
        if (added)
            ++sites;
        m_siteOf[i] = it->second;
    }
    m_siteStart.assign(sites + 1, 0);
    for (std::uint32_t site : m_siteOf)
        ++m_siteStart[site + 1];
    for (std::uint32_t k = 0; k < sites; ++k)
        m_siteStart[k + 1] += m_siteStart[k];
    m_siteMembers.resize(m_items.size());
    std::vector<std::uint32_t> next(m_siteStart.begin(), m_siteStart.end() - 1);
    for (std::size_t i = 0; i < m_items.size(); ++i)
        m_siteMembers[next[m_siteOf[i]]++] = static_cast<std::uint32_t>(i);
}

// Whether one more worker may start on the item's site (or, continuing, whether the caller may keep
// going there while its own item still counts as in progress). Computed once per site and pass.
bool QueueList::siteLimitReached(std::size_t index, bool continuing)
{
    if (m_items[index].scratch.siteLimitKnown)
        return m_items[index].scratch.siteLimitReached;
    const std::uint32_t site = m_siteOf[index];
    const auto first = m_siteMembers.begin() + m_siteStart[site];
    const auto last = m_siteMembers.begin() + m_siteStart[site + 1];
    const std::int32_t limit = m_defaults.perSiteLimit;
    bool reached = false;
    // 0 means no limit; a negative limit cannot be met either, so it blocks nothing rather than everything.
    if (limit > 0) {
        std::int32_t running = 0;
        for (auto it = first; it != last; ++it)
            running += m_items[*it].isInProgress() ? 1 : 0;
        reached = continuing ? running > limit : running >= limit;
    }
    for (auto it = first; it != last; ++it) {
        m_items[*it].scratch.siteLimitKnown = true;
        m_items[*it].scratch.siteLimitReached = reached;
    }
    return reached;
}

// A site is ready only when every item of it has rested longer than its own retry time since its last
// final status. The verdict is cached on every item of the site, so that no item of a resting site can
// read as ready later in the same pass.
bool QueueList::siteReady(std::size_t index, std::int64_t now)
{
    if (m_items[index].scratch.siteReadyKnown)
        return m_items[index].scratch.siteReady;
    const std::uint32_t site = m_siteOf[index];
    const auto first = m_siteMembers.begin() + m_siteStart[site];
    const auto last = m_siteMembers.begin() + m_siteStart[site + 1];
    const bool ready =
        std::all_of(first, last, [&](std::uint32_t member) { return m_items[member].retryDelayPassed(now); });
    for (auto it = first; it != last; ++it) {
        m_items[*it].scratch.siteReadyKnown = true;
        m_items[*it].scratch.siteReady = ready;
    }
    return ready;
}

bool QueueList::anyEligible()
{
    std::lock_guard lock{m_mutex};
    beginPass();
    const std::int64_t now = m_clock.nowSeconds();
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        const QueueItem &item = m_items[i];
        // A site already judged in this pass was found wanting: the first eligible item of a good
        // site would have ended the walk.
        if (item.scratch.siteReadyKnown || item.scratch.siteLimitKnown)
            continue;
        if (!item.isEligible())
            continue;
        if (siteLimitReached(i, false))
            continue;
        if (siteReady(i, now))
            return true;
    }
    return false;
}

void QueueList::scan(Candidates &candidates, std::string_view host, std::int32_t port, std::string_view user,
    bool continuing, bool preferManual, bool takeReconnect, std::int64_t now)
{
    bool looksLikeRatioSite = false;
    std::ptrdiff_t upload = -1;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        const bool ready = siteReady(i, now);
        const QueueItem &item = m_items[i];
        if (!item.isEligible())
            continue;
        const bool manual = isManualRequest(item);
        const bool reconnect = item.status == StatusReconnectAfterTransfers;
        const auto index = static_cast<std::ptrdiff_t>(i);
        if (item.isSameSite(host, port, user)) {
            // The caller's own site needs no rest time and counts the caller's item as its own.
            if (siteLimitReached(i, continuing))
                continue;
            const bool qualifies =
                (preferManual && manual) || (!preferManual && !reconnect) || (takeReconnect && reconnect);
            if (!qualifies)
                continue;
            if (item.status == StatusRatioNeedsUpload || item.status == StatusRatioActive) {
                looksLikeRatioSite = true;
                continue;
            }
            if (item.status == StatusRatioRecheck)
                looksLikeRatioSite = true;
            if (candidates.sameSite == -1)
                candidates.sameSite = index;
            if (upload == -1 && item.scheme == SchemeFtpUpload)
                upload = index;
        } else if (ready && candidates.otherSite == -1) {
            if (siteLimitReached(i, false))
                continue;
            if (preferManual && manual)
                candidates.otherSite = index;
            else if ((!preferManual && !reconnect) || (takeReconnect && reconnect))
                candidates.otherSite = index;
        }
    }
    // A site that refuses downloads until something is uploaded: send the upload first.
    if (!preferManual && !takeReconnect && looksLikeRatioSite && upload != -1)
        candidates.sameSite = upload;
}

Selection QueueList::selectNext(
    std::string_view host, std::int32_t port, std::string_view user, bool continuing)
{
    std::lock_guard lock{m_mutex};
    beginPass();
    const std::int64_t now = m_clock.nowSeconds();
    Candidates candidates;
    // Manual-connection requests first, then ordinary items, and items parked for a manual reconnect last.
    scan(candidates, host, port, user, continuing, true, false, now);
    if (candidates.sameSite == -1)
        scan(candidates, host, port, user, continuing, false, false, now);
    if (candidates.sameSite == -1)
        scan(candidates, host, port, user, continuing, true, true, now);
    const std::ptrdiff_t chosen = candidates.sameSite != -1 ? candidates.sameSite : candidates.otherSite;

    Selection selection;
    if (chosen == -1)
        return selection;
    QueueItem &item = m_items[static_cast<std::size_t>(chosen)];
    item.setActive();
    selection.found = true;
    selection.id = item.id;
    selection.host = item.host;
    selection.port = item.port;
    selection.user = item.user;
    selection.password = item.password;
    if (!continuing) {
        // A new login on the site: every item of the site counts one more attempt.
        std::int32_t attempts = item.attempts;
        if (attempts != 0) {
            for (const QueueItem &other : m_items) {
                if (other.isSameSite(selection.host, selection.port, selection.user))
                    attempts = std::max(attempts, other.attempts);
            }
        }
        for (QueueItem &other : m_items) {
            if (other.isSameSite(selection.host, selection.port, selection.user))
                other.attempts = attempts + 1;
        }
    }
    return selection;
}

void QueueList::markRatioRecheck(std::string_view host, std::int32_t port, std::string_view user)
{
    std::lock_guard lock{m_mutex};
    for (QueueItem &item : m_items) {
        if (item.status == StatusRatioNeedsUpload && item.isSameSite(host, port, user))
            item.status = StatusRatioRecheck;
    }
}

} // namespace bw::core
