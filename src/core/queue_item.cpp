// SPDX-License-Identifier: MIT
#include "core/queue_item.h"

namespace bw::core {

std::string statusText(ItemStatus status)
{
    using enum ItemStatus;
    switch (status) {
    case StatusUnknown:
        return "Unknown";
    case StatusIdle:
        return "Idle";
    case StatusFinished:
        return "Finished";
    case StatusError:
        return "Error";
    case StatusTransferFailed:
        return "Transfer failed";
    case StatusTimeout:
        return "Timeout";
    case StatusRatioNeedsUpload:
    case StatusRatioActive:
        return "Probable ratio site.  May need to upload.";
    case StatusMissingTarget:
        return "Missing target";
    case StatusQueuedForRemoval:
        return "Queued for removal";
    case StatusTooManyConnections:
        return "Too many connections";
    case StatusRatioRecheck:
        return "Probable ratio site.  Ready to recheck.";
    case StatusBadUrl:
        return "Bad URL";
    case StatusFailedManualConnection:
        return "Failed manual connection";
    case StatusManualConnectionComplete:
        return "Manual connection complete";
    case StatusFailedToConnect:
        return "Failed to connect";
    case StatusInvalidUser:
        return "Invalid user";
    case StatusInvalidPassword:
        return "Invalid password";
    case StatusReconnectAfterTransfers:
        return "Manually reconnect after transfers";
    case StatusActive:
        return "Active";
    case StatusConnecting:
        return "Connecting";
    case StatusSearching:
        return "Searching";
    case StatusTransferring:
        return "Transferring";
    case StatusInactiveManualConnection:
        return "Inactive manual connection";
    case StatusActiveManualConnection:
        return "Active manual connection";
    default:
        return {};
    }
}

bool isDoneStatus(ItemStatus status)
{
    using enum ItemStatus;
    return status == StatusFinished || status == StatusQueuedForRemoval
        || status == StatusManualConnectionComplete;
}

bool isInProgressStatus(ItemStatus status)
{
    return static_cast<std::int32_t>(status) > 128;
}

bool isEligibleStatus(ItemStatus status)
{
    return !isInProgressStatus(status) && !isDoneStatus(status) && status != ItemStatus::StatusBadUrl
        && status != ItemStatus::StatusTooManyConnections;
}

bool QueueItem::setUrl(std::string_view text, std::string_view newLocalPath)
{
    Url parsed;
    if (!parseUrl(text, parsed))
        return false;
    scheme = parsed.scheme;
    host = std::move(parsed.host);
    user = std::move(parsed.user);
    password = std::move(parsed.password);
    path = std::move(parsed.path);
    fileName = std::move(parsed.fileName);
    port = parsed.port;
    url = text;
    localPath = newLocalPath;
    if (localPath.empty())
        automatic = false;
    return true;
}

void QueueItem::setStatus(ItemStatus newStatus, std::int64_t now)
{
    status = newStatus;
    statusTime = now;
    ++ends;
}

bool QueueItem::retryDelayPassed(std::int64_t now) const
{
    if (statusTime < 0)
        return true;
    return retryTime < now - statusTime;
}

void QueueItem::transferStarted(std::int64_t now)
{
    transferring = true;
    transferStart = now;
    status = ItemStatus::StatusTransferring;
}

void QueueItem::transferEnded()
{
    transferring = false;
    if (status == ItemStatus::StatusTransferring)
        status = ItemStatus::StatusActive;
    if (removeWhenDone)
        status = ItemStatus::StatusQueuedForRemoval;
}

void QueueItem::setProgress(std::int64_t newBytesDone, std::int64_t newTotalSize, std::int64_t now)
{
    bytesDone = newBytesDone;
    std::int64_t elapsed = transferStart < 0 ? 0 : now - transferStart;
    rateKBps = elapsed < 1 ? 0 : bytesDone / elapsed / 1000;
    totalSize = newTotalSize;
}

void QueueItem::inheritSettings(const QueueItem &parent)
{
    retryTime = parent.retryTime;
    retryCount = parent.retryCount;
    timeout = parent.timeout;
    passive = parent.passive;
    reservedFlag = parent.reservedFlag;
    attempts = parent.attempts;
}

bool QueueItem::isSameSite(
    std::string_view otherHost, std::int32_t otherPort, std::string_view otherUser) const
{
    return port == otherPort && host == otherHost && user == otherUser;
}

std::string statusTextWithDetail(const QueueItem &item)
{
    const std::string text = statusText(item.status);
    return item.statusDetail.empty() ? text : text + " (" + item.statusDetail + ")";
}

} // namespace bw::core
