// SPDX-License-Identifier: MIT
// The per-item setters of the queue list and the transfer bookkeeping of the workers.
#include <utility>

#include "core/queue_list.h"

namespace bw::core {

void QueueList::setStatus(std::int32_t id, ItemStatus status)
{
    change(id, [status](QueueItem &item) { item.status = status; });
}

bool QueueList::setUrl(std::int32_t id, std::string_view url)
{
    return replaceUrl(id, url, std::nullopt);
}

bool QueueList::setUrl(std::int32_t id, std::string_view url, std::string_view localPath)
{
    return replaceUrl(id, url, localPath);
}

bool QueueList::replaceUrl(std::int32_t id, std::string_view url, std::optional<std::string_view> localPath)
{
    Url parsed;
    if (!parseUrl(url, parsed))
        return false;
    std::lock_guard lock{m_mutex};
    const std::size_t index = indexOf(id);
    if (index == kMissing)
        return false;
    QueueItem &item = m_items[index];
    item.scheme = parsed.scheme;
    item.host = parsed.host;
    item.user = parsed.user;
    item.password = parsed.password;
    item.path = parsed.path;
    item.fileName = parsed.fileName;
    item.port = parsed.port;
    item.url = url;
    if (localPath)
        item.localPath = *localPath;
    // A new host, port or user puts the item on another site.
    m_siteOf[index] = siteNumber(item);
    refreshAt(index);
    renumberSitesIfSparse();
    return true;
}

void QueueList::setRetryTime(std::int32_t id, std::int32_t seconds)
{
    change(id, [seconds](QueueItem &item) { item.retryTime = seconds; });
}

void QueueList::setRetryCount(std::int32_t id, std::int32_t count)
{
    change(id, [count](QueueItem &item) { item.retryCount = count; });
}

void QueueList::clearListing(std::int32_t id)
{
    change(id, [](QueueItem &item) {
        item.listedDirectory = false;
        item.listedSize = -1;
    });
}

void QueueList::setAttempts(std::int32_t id, std::int32_t attempts)
{
    change(id, [attempts](QueueItem &item) { item.attempts = attempts; });
}

void QueueList::setAbortRequested(std::int32_t id, bool requested)
{
    change(id, [requested](QueueItem &item) { item.abortRequested = requested; });
}

void QueueList::setStatusDetail(std::int32_t id, std::string detail)
{
    change(id, [&detail](QueueItem &item) { item.statusDetail = std::move(detail); });
}

void QueueList::setSegmentState(std::int32_t id, std::string state)
{
    if (change(id, [&state](QueueItem &item) { item.segmentState = std::move(state); }))
        ++m_segmentStateRevision;
}

void QueueList::setChecksum(std::int32_t id, Checksum checksum)
{
    change(id, [&checksum](QueueItem &item) { item.checksum = std::move(checksum); });
}

bool QueueList::resetForRetry(std::int32_t id)
{
    bool reset = false;
    change(id, [&reset](QueueItem &item) {
        if (item.isInProgress() || item.isDone())
            return;
        item.status = ItemStatus::StatusIdle;
        item.statusTime = -1;
        item.attempts = 0;
        item.statusDetail.clear();
        item.endedForGood = false;
        item.refusedLogins = 0;
        reset = true;
    });
    return reset;
}

void QueueList::stopItem(std::int32_t id)
{
    std::lock_guard lock{m_mutex};
    const std::size_t index = indexOf(id);
    if (index == kMissing)
        return;
    QueueItem &item = m_items[index];
    item.status = ItemStatus::StatusIdle;
    item.statusTime = -1;
    item.stoppedByUser = true;
    // Attempts are kept equal across a site: each login raised them all by one.
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_siteOf[i] == m_siteOf[index] && m_items[i].attempts > 0)
            --m_items[i].attempts;
    }
    refreshAt(index);
}

void QueueList::setSelected(std::int32_t id, bool selected)
{
    change(id, [selected](QueueItem &item) { item.selected = selected; });
}

void QueueList::setAllSelected(bool selected)
{
    std::lock_guard lock{m_mutex};
    for (QueueItem &item : m_items)
        item.selected = selected;
}

// ---- transfers ----

void QueueList::transferStarted(std::int32_t id)
{
    change(id, [this](QueueItem &item) { item.transferStarted(m_clock.nowSeconds()); });
}

void QueueList::transferEnded(std::int32_t id)
{
    change(id, [](QueueItem &item) { item.transferEnded(); });
}

void QueueList::setProgress(std::int32_t id, std::int64_t bytesDone, std::int64_t totalSize)
{
    bool found =
        change(id, [&](QueueItem &item) { item.setProgress(bytesDone, totalSize, m_clock.nowSeconds()); });
    if (!found)
        return;
    const Receiver target = receiver();
    if (target.notifier)
        target.notifier->notifyProgress(target.queueChanged, id);
}

} // namespace bw::core
