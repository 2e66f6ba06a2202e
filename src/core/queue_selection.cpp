// SPDX-License-Identifier: MIT
// Which item a worker runs next: the QueueList's selection rules, kept apart from its plain accessors.
#include <algorithm>

#include "core/queue_list.h"

namespace bw::core {

namespace {

// A request for a manual connection that has not been parked for a reconnect.
bool isManualRequest(const QueueItem &item)
{
    return item.localPath.empty() && !item.automatic && item.status != StatusReconnectAfterTransfers;
}

} // namespace

void QueueList::clearScratch()
{
    for (QueueItem &item : m_items)
        item.scratch.clear();
}

// Whether one more worker may start on the item's site (or, continuing, whether the caller may keep
// going there while its own item still counts as in progress). Computed once per site and pass.
bool QueueList::siteLimitReached(std::size_t index, bool continuing)
{
    const QueueItem &subject = m_items[index];
    if (subject.scratch.siteLimitKnown)
        return subject.scratch.siteLimitReached;
    const std::int32_t limit = m_defaults.perSiteLimit;
    bool reached = false;
    // 0 means no limit; a negative limit cannot be met either, so it blocks nothing rather than everything.
    if (limit > 0) {
        std::int32_t running = 0;
        for (const QueueItem &item : m_items) {
            if (item.isInProgress() && item.isSameSite(subject))
                ++running;
        }
        reached = continuing ? running > limit : running >= limit;
    }
    const std::string host = subject.host;
    const std::string user = subject.user;
    const std::int32_t port = subject.port;
    for (QueueItem &item : m_items) {
        if (item.isSameSite(host, port, user)) {
            item.scratch.siteLimitKnown = true;
            item.scratch.siteLimitReached = reached;
        }
    }
    return reached;
}

// A site is ready only when every item of it has rested longer than its own retry time since its last
// final status. The verdict is cached on every item of the site, so that no item of a resting site can
// read as ready later in the same pass.
bool QueueList::siteReady(std::size_t index, std::int64_t now)
{
    const QueueItem &subject = m_items[index];
    if (subject.scratch.siteReadyKnown)
        return subject.scratch.siteReady;
    const std::string host = subject.host;
    const std::string user = subject.user;
    const std::int32_t port = subject.port;
    bool ready = true;
    for (const QueueItem &item : m_items) {
        if (!item.retryDelayPassed(now) && item.isSameSite(host, port, user)) {
            ready = false;
            break;
        }
    }
    for (QueueItem &item : m_items) {
        if (item.isSameSite(host, port, user)) {
            item.scratch.siteReadyKnown = true;
            item.scratch.siteReady = ready;
        }
    }
    return ready;
}

bool QueueList::anyEligible()
{
    std::lock_guard lock{m_mutex};
    clearScratch();
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
    clearScratch();
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
