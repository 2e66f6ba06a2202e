// SPDX-License-Identifier: MIT
// One entry of the transfer queue: the parsed URL, the local file it maps to, its own retry and
// connection settings, its status and the progress of a running transfer. Items live by value inside
// the QueueList and are touched only under its lock; callers outside it read copies. No operation here
// locks by itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/checksum.h"
#include "core/url.h"

namespace bw::core {

// Values above 128 mean a worker holds the item. The numbers are fixed: other programs and files read
// them. A value without a name (134, say) is possible and has an empty text.
enum class ItemStatus : std::int32_t
{
    StatusUnknown = 0,
    StatusIdle = 1,
    StatusFinished = 2,
    StatusError = 3,
    StatusTransferFailed = 4,
    StatusTimeout = 5,
    StatusRatioNeedsUpload = 6,
    StatusMissingTarget = 7,
    StatusQueuedForRemoval = 8,
    StatusTooManyConnections = 9,
    StatusRatioRecheck = 10,
    StatusBadUrl = 11,
    StatusFailedManualConnection = 12,
    StatusManualConnectionComplete = 13,
    StatusFailedToConnect = 14,
    StatusInvalidUser = 15,
    StatusInvalidPassword = 16,
    StatusReconnectAfterTransfers = 17,
    StatusActive = 129,
    StatusConnecting = 130,
    StatusSearching = 131,
    StatusTransferring = 132,
    StatusInactiveManualConnection = 133,
    StatusActiveManualConnection = 135,
    StatusRatioActive = 136,
};

// The display text of a status; empty for values without one.
std::string statusText(ItemStatus status);

// Finished, queued for removal or manual connection complete: neither started nor saved.
bool isDoneStatus(ItemStatus status);
// A worker holds the item.
bool isInProgressStatus(ItemStatus status);
// Neither in progress nor done, and not a bad URL or "too many connections".
bool isEligibleStatus(ItemStatus status);

class QueueItem
{
public:
    // Parses `url`; on failure changes nothing and returns false. On success takes the URL parts and the
    // text as given, then `localPath`; an empty local path makes the item a manual-connection request.
    bool setUrl(std::string_view url, std::string_view localPath);
    // A final status: also stamps statusTime.
    void setStatus(ItemStatus newStatus, std::int64_t now);

    void setActive() { status = ItemStatus::StatusActive; }

    // True when the item rested longer than retryTime since its last final status.
    bool retryDelayPassed(std::int64_t now) const;
    void transferStarted(std::int64_t now);
    void transferEnded();
    void setProgress(std::int64_t newBytesDone, std::int64_t newTotalSize, std::int64_t now);
    // Children made by directory recursion and redirects take their parent's settings this way.
    void inheritSettings(const QueueItem &parent);
    // Same host, port and user, compared exactly.
    bool isSameSite(std::string_view otherHost, std::int32_t otherPort, std::string_view otherUser) const;

    bool isSameSite(const QueueItem &other) const { return isSameSite(other.host, other.port, other.user); }

    bool isDone() const { return isDoneStatus(status); }

    bool isInProgress() const { return isInProgressStatus(status); }

    bool isEligible() const { return isEligibleStatus(status); }

    std::string host;
    std::string user;
    std::string password;
    std::string path; // remote directory; ends in "/" when a file name was split off
    std::string fileName; // empty for a directory or a bare site
    std::string localPath;
    std::int32_t port = 0;
    UrlScheme scheme = SchemeNone;
    bool reservedFlag = false; // stored and inherited, consulted by nothing
    std::int32_t retryTime = 0;
    std::int32_t retryCount = 10;
    std::int32_t timeout = 30;
    bool passive = false;
    bool abortRequested = false;
    bool removeWhenDone = false;
    std::int32_t attempts = 0;
    std::int64_t statusTime = -1; // seconds since 1970 of the last final status, -1 for never
    std::int32_t ends = 0; // final statuses in this run (several may fall in one second); not stored
    std::string url;
    bool selected = false;
    ItemStatus status = ItemStatus::StatusIdle;
    std::int32_t id = 0;
    bool automatic = true;
    std::int64_t bytesDone = 0;
    std::int64_t totalSize = 0;
    std::int64_t rateKBps = 0;
    std::int64_t transferStart = -1;
    // What the server said about the last failure ("404 Not Found"); shown, never stored.
    std::string statusDetail;
    bool transferring = false;
    // What the parent's listing said of this entry, for its first attempt only (not stored): a plain
    // file's size (-1 when not known as a file), or that it is a directory.
    std::int64_t listedSize = -1;
    bool listedDirectory = false;
    // Which ranges of a download fetched in segments are still missing, as the engine encodes them
    // (empty for none). Stored, so that a restart resumes every segment.
    std::string segmentState;
    // The checksum the user gave for the file (stored in the queue file's checksum block); unset for none.
    Checksum checksum;
    // Ended by a failure that waiting cannot mend (a refused certificate, a missing file, a login refused
    // twice): no worker takes it again until the user retries it. Not stored.
    bool endedForGood = false;
    std::int32_t refusedLogins = 0; // logins refused in a row in this run; not stored
    bool stoppedByUser = false; // Idle because the user stopped the transfers (shown "Stopped"); not stored
};

// The item's status text with what the server said, when known: "Transfer failed (404 Not Found)".
std::string statusTextWithDetail(const QueueItem &item);

} // namespace bw::core
