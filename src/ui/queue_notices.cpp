// SPDX-License-Identifier: MIT
#include "ui/queue_notices.h"

#include "core/queue_item.h"
#include "ui/queue_row.h"

namespace bw::ui {

namespace {

bool isErrorStatus(int status)
{
    return belongsInTab(QueueTab::Errors, status, false);
}

// Items still to be started: the queue has not finished while one of these waits.
bool isWaiting(int status)
{
    return status == static_cast<int>(core::ItemStatus::StatusIdle)
        || status == static_cast<int>(core::ItemStatus::StatusReconnectAfterTransfers);
}

} // namespace

bool isLoggedFailure(int status)
{
    using core::ItemStatus;
    switch (static_cast<ItemStatus>(status)) {
    case ItemStatus::StatusError:
    case ItemStatus::StatusTransferFailed:
    case ItemStatus::StatusTimeout:
    case ItemStatus::StatusMissingTarget:
    case ItemStatus::StatusFailedToConnect:
    case ItemStatus::StatusInvalidUser:
    case ItemStatus::StatusInvalidPassword:
        return true;
    default:
        return false;
    }
}

bool hasFailedForGood(int status, int attempts, int retryCount)
{
    if (!isErrorStatus(status))
        return false;
    if (!core::isEligibleStatus(static_cast<core::ItemStatus>(status)))
        return true;
    return retryCount < 9999 && attempts >= retryCount;
}

std::vector<QueueNotice> QueueNotices::update(const std::vector<NoticeInput> &items)
{
    std::vector<QueueNotice> notices;
    bool busy = false;
    bool waiting = false;
    std::set<std::int32_t> stillFailed;
    for (const NoticeInput &item : items) {
        // A manual connection waiting for the browser is no transfer the queue is busy with.
        busy = busy
            || (core::isInProgressStatus(static_cast<core::ItemStatus>(item.status))
                && item.status != kStatusInactiveManual);
        waiting = waiting || isWaiting(item.status);
        if (!hasFailedForGood(item.status, item.attempts, item.retryCount))
            continue;
        stillFailed.insert(item.id);
        if (!m_announcedFailures.contains(item.id))
            notices.push_back({QueueNotice::Kind::ItemFailed, item.id, item.fileName, item.status});
    }
    // An item retried by hand and failing again is news again; a removed item is forgotten.
    m_announcedFailures = std::move(stillFailed);
    if (m_wasBusy && !busy && !waiting)
        notices.push_back({QueueNotice::Kind::QueueFinished, 0, {}, 0});
    m_wasBusy = busy;
    return notices;
}

} // namespace bw::ui
