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

bool hasFailedForGood(int status, int attempts, int retryCount, bool endedForGood)
{
    if (!isErrorStatus(status))
        return false;
    if (endedForGood || !core::isEligibleStatus(static_cast<core::ItemStatus>(status)))
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
        if (core::isDoneStatus(static_cast<core::ItemStatus>(item.status)))
            m_finishedInSpell.insert(item.id);
        const bool failed = hasFailedForGood(item.status, item.attempts, item.retryCount, item.endedForGood);
        // A failed item the scheduler will try again is work still to do.
        waiting = waiting || isWaiting(item.status) || (isErrorStatus(item.status) && !failed);
        if (!failed)
            continue;
        stillFailed.insert(item.id);
        if (!m_announcedFailures.contains(item.id))
            notices.push_back({QueueNotice::Kind::ItemFailed, item.id, item.fileName, item.status});
    }
    // An item retried by hand and failing again is news again; a removed item is forgotten.
    m_announcedFailures = std::move(stillFailed);
    const bool finished = m_wasBusy && !busy && !waiting;
    if (finished) {
        notices.push_back({QueueNotice::Kind::QueueFinished, 0, {}, 0,
            static_cast<int>(m_finishedInSpell.size()), static_cast<int>(m_announcedFailures.size())});
    }
    if (finished || (!m_wasBusy && !busy))
        m_finishedInSpell.clear();
    m_wasBusy = busy || (m_wasBusy && waiting);
    return notices;
}

} // namespace bw::ui
