// SPDX-License-Identifier: MIT
// src/core (bw_core): the queue model: URLs, queue items, the queue list, the diagnostic log, the worker
// thread base. May use platform; never net, engine or Qt.
//
// The one shared transfer queue: items by value in list order, the queue-wide defaults, the rules that
// pick a worker's next item, and the notifications to the window. Called from the window's thread, the
// scheduler thread and every worker thread. One lock guards everything; callers read copies, so no code
// outside the queue runs while it is held, and no notification is ever sent while it is held.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/queue_item.h"
#include "core/queue_notifier.h"
#include "core/selection_index.h"
#include "core/site_table.h"
#include "platform/clock.h"

namespace bw::core {

// The settings new items take when they are added with -1.
struct QueueDefaults
{
    std::int32_t retryTime = 30; // seconds a site rests after an item there ended
    std::int32_t perSiteLimit = 1; // most workers on one site; 0 means no limit
    std::int32_t timeout = 30; // seconds
    std::int32_t retryCount = 10;
    bool passive = false;

    bool operator==(const QueueDefaults &) const = default;
};

// The fields a walk over the whole queue needs, without the texts: cheap to copy by the thousand.
struct ItemState
{
    std::int32_t id = 0;
    ItemStatus status = ItemStatus::StatusIdle;
    bool removeWhenDone = false;
    std::int64_t statusTime = -1;
    std::int32_t retryCount = 0;
    std::int32_t ends = 0;
    bool endedForGood = false;
};

// What a saved queue holds of the items it keeps (those neither done nor marked for removal), in list
// order. The two texts of every item lie back to back in one buffer, so that taking it under the queue's
// lock costs two copies of bytes per item and no allocation of its own.
struct SavedItems
{
    struct Item
    {
        std::size_t urlSize = 0;
        std::size_t localPathSize = 0;
        std::int32_t port = 0;
        UrlScheme scheme = SchemeNone;
        bool reservedFlag = false;
        std::int32_t retryTime = 0;
        std::int32_t retryCount = 0;
        std::int32_t timeout = 0;
        bool passive = false;
    };

    std::string texts; // each item's URL, then its local path
    std::vector<Item> items;
    // The segment states of the items that have one, by index in `items`.
    std::vector<std::pair<std::size_t, std::string>> segmentStates;
    // The user's checksums, by the index of their item in `items`.
    std::vector<std::pair<std::int32_t, Checksum>> checksums;
};

// What `selectNext` chose: the item and the login of its site.
struct Selection
{
    bool found = false;
    std::int32_t id = 0;
    std::string host;
    std::int32_t port = 0;
    std::string user;
    std::string password;
};

class QueueList
{
public:
    explicit QueueList(const platform::Clock &clock = platform::SystemClock::instance());
    QueueList(const QueueList &) = delete;
    QueueList &operator=(const QueueList &) = delete;

    // The five defaults, read and written together.
    QueueDefaults defaults() const;
    void setDefaults(const QueueDefaults &defaults);

    // The receiver of the four notifications and their message numbers, set together. nullptr stops new
    // ones; a call already under way on a worker thread still completes, so destroy the receiver only
    // after the workers have stopped.
    void setNotifier(QueueNotifier *notifier, unsigned logSentMessage = kWmLogSent,
        unsigned logReceivedMessage = kWmLogReceived, unsigned logStatusMessage = kWmLogStatus,
        unsigned queueChangedMessage = kWmQueueChanged);

    // Called on the adding thread, outside the lock, after items were added or an ended item was
    // removed (its site may have stopped resting): lets a scheduler start a worker at once. Set it to
    // nullptr before its target goes.
    void setWorkAddedListener(std::function<void()> listener);

    // Adds an item; each of the last four settings may be -1 for the queue default. A parent item's
    // settings and attempts win over them. Returns the new id, or 0 when the URL does not parse.
    std::int32_t addItem(std::string_view url, std::string_view localPath, std::int32_t parentId = 0,
        std::int32_t retryTime = -1, std::int32_t retryCount = -1, std::int32_t timeout = -1,
        std::int32_t passive = -1);
    // A child of a listed directory, added with what the listing said of it (a directory, or a file of
    // sizeBytes) in the same step, so that no worker sees it without.
    std::int32_t addListedItem(std::string_view url, std::string_view localPath, std::int32_t parentId,
        bool directory, std::int64_t sizeBytes);
    // Gives each item the next id and appends them all in one locked step (the queue file's load).
    void appendItems(std::vector<QueueItem> items);
    // Erases an item that is not in progress (true; also for an unknown id). An item in progress is asked
    // to stop and marked for removal when it ends (false).
    bool removeItem(std::int32_t id);
    // Gives the item its final status and moves it to the end of the list. `forGood`: waiting cannot
    // change the outcome, so no worker takes the item again until it is retried by hand. A login refused
    // a second time in a row ends the item for good as well: a server that locks out after repeated
    // failures must not lock the user out.
    void finishItem(std::int32_t id, ItemStatus finalStatus, bool forGood = false);
    bool contains(std::int32_t id) const;
    bool isDone(std::int32_t id) const;
    std::size_t count() const;

    // Reads, each one consistent copy taken in one locked pass. An unknown id gives nullopt.
    std::optional<QueueItem> snapshot(std::int32_t id) const;
    std::vector<QueueItem> snapshot() const; // every item, in list order
    std::vector<ItemState> states() const; // every item, in list order
    std::vector<std::int32_t> ids() const; // in list order
    SavedItems savedItems() const;

    // Setters by id; an unknown id does nothing. `setStatus` sets the status plainly, without time stamp.
    void setStatus(std::int32_t id, ItemStatus status);
    // Re-parses the URL into the item's URL parts; localPath and automatic stay. False when the URL does
    // not parse (the item is untouched) or the id is unknown.
    bool setUrl(std::int32_t id, std::string_view url);
    // As above, and the local path becomes `localPath` in the same step, so no worker sees the new URL
    // with the old file.
    bool setUrl(std::int32_t id, std::string_view url, std::string_view localPath);
    void setRetryTime(std::int32_t id, std::int32_t seconds);
    void setRetryCount(std::int32_t id, std::int32_t count);
    void setAttempts(std::int32_t id, std::int32_t attempts);
    void setAbortRequested(std::int32_t id, bool requested);
    void setStatusDetail(std::int32_t id, std::string detail);
    // Counts every change, so that a runner can save the queue once the state changed.
    void setSegmentState(std::int32_t id, std::string state);

    std::uint64_t segmentStateRevision() const { return m_segmentStateRevision.load(); }

    void setChecksum(std::int32_t id, Checksum checksum);
    // Makes a failed item new again (Idle, no attempts, no rest, no detail, not ended for good) so the
    // next pass takes it.
    // False, and nothing changed, for an unknown id or an item a worker holds or that is done.
    bool resetForRetry(std::int32_t id);
    void setSelected(std::int32_t id, bool selected);
    // A worker's item stopped by the user (Go, quitting): Idle where it stands and marked as stopped,
    // with no rest before the next start, and the attempt its site's login counted given back.
    void stopItem(std::int32_t id);
    // Forgets what the parent's listing said of the item, so that a later attempt asks the server again.
    void clearListing(std::int32_t id);
    void setAllSelected(bool selected);

    // Transfer bookkeeping of a worker.
    void transferStarted(std::int32_t id);
    void transferEnded(std::int32_t id);
    // Records progress, then (outside the lock, and only for a known id) notifies the item's progress.
    void setProgress(std::int32_t id, std::int64_t bytesDone, std::int64_t totalSize);

    // For a runner that gives up on an item after so many tries: an item that has ended `tries` times
    // (0: its own retry count) is no longer taken. -1, the default, takes items however often they ended.
    void setTryLimit(std::int32_t tries);

    // How many connections the running item `id` may use on its site within the per-site limit, its own
    // included (at least 1); INT32_MAX when the site has no limit.
    std::int32_t connectionsForItem(std::int32_t id) const;
    // Whether a newly started worker would find an item.
    bool anyEligible() const;
    // The second (on the queue's clock) at which the next resting site that has work left ends its
    // rest, or nothing when no such site rests.
    std::optional<std::int64_t> nextRestEnd() const;
    // Picks the caller's next item (its own site first) and marks it Active. `continuing` says the
    // caller's current item is still counted as in progress.
    Selection selectNext(std::string_view host, std::int32_t port, std::string_view user, bool continuing);
    // After a successful upload: the site's ratio-blocked items may be tried again.
    void markRatioRecheck(std::string_view host, std::int32_t port, std::string_view user);

    // Notifications, sent synchronously without holding the lock; skipped when no notifier is set.
    // The log lines carry the calling thread's id.
    void notifyLogSent(const std::string &text);
    void notifyLogReceived(const std::string &text);
    void notifyLogStatus(const std::string &text);
    void notifyQueueChanged(bool mustSave, std::int32_t id);

    const platform::Clock &clock() const { return m_clock; }

private:
    struct Receiver
    {
        QueueNotifier *notifier = nullptr;
        unsigned logSent = 0;
        unsigned logReceived = 0;
        unsigned logStatus = 0;
        unsigned queueChanged = 0;
    };

    // The caller holds m_mutex for all of these.
    static constexpr std::size_t kMissing = static_cast<std::size_t>(-1);
    std::size_t indexOf(std::int32_t id) const; // kMissing for an unknown id
    QueueItem *find(std::int32_t id);
    const QueueItem *find(std::int32_t id) const;
    void append(QueueItem item);
    // Both setUrl forms: the URL's parts, and the local path when given.
    bool replaceUrl(std::int32_t id, std::string_view url, std::optional<std::string_view> localPath);
    void eraseAt(std::size_t index);
    void moveToEnd(std::size_t index);
    std::uint32_t siteNumber(const QueueItem &item);
    void renumberSitesIfSparse();
    // The selection index follows every change of an item: `refreshAt` after any change of its fields,
    // its site number or its order key.
    ItemFacts factsOf(std::size_t index) const;
    void refreshAt(std::size_t index);
    void reindex();
    std::size_t indexOfOrder(std::uint64_t order) const;
    std::ptrdiff_t chooseSameSite(std::uint32_t site, bool continuing) const;
    std::ptrdiff_t chooseOtherSite(std::optional<std::uint32_t> callerSite) const;
    // Eligible, and not yet tried as often as the try limit allows.
    bool mayTake(const QueueItem &item) const;
    // Which of the selection's walks may take the item now; None when it may not be taken.
    TakeKind takeKind(const QueueItem &item) const;

    template <typename Change>
    bool change(std::int32_t id, Change change);

    Receiver receiver() const;
    std::int32_t insertItem(std::string_view url, std::string_view localPath, std::int32_t parentId,
        std::int32_t retryTime, std::int32_t retryCount, std::int32_t timeout, std::int32_t passive,
        bool listedDirectory = false, std::int64_t listedSize = -1);
    void announceWorkAdded();
    void send(
        unsigned Receiver::*message, std::uint64_t wParam, std::int64_t itemId, const std::string &text);

    const platform::Clock &m_clock;
    mutable std::mutex m_mutex;
    QueueDefaults m_defaults; // guarded by m_mutex
    std::int32_t m_tryLimit = -1; // guarded by m_mutex
    std::vector<QueueItem> m_items; // guarded by m_mutex
    // Beside m_items, index for index: each item's id and its site's number in m_sites, so that lookups
    // by id and the selection's site tests read a few bytes per item instead of whole items.
    std::vector<std::int32_t> m_ids; // guarded by m_mutex
    std::vector<std::uint32_t> m_siteOf; // guarded by m_mutex
    // Each item's order key (rising in list order) and what the selection index holds of it.
    std::vector<std::uint64_t> m_order; // guarded by m_mutex
    std::vector<ItemFacts> m_facts; // guarded by m_mutex
    std::uint64_t m_nextOrder = 0; // guarded by m_mutex
    SiteTable m_sites; // guarded by m_mutex
    SelectionIndex m_index; // guarded by m_mutex
    mutable std::mutex m_receiverMutex;
    Receiver m_receiver; // guarded by m_receiverMutex
    std::function<void()> m_workAdded; // guarded by m_receiverMutex
    std::atomic<std::uint64_t> m_segmentStateRevision{0};
};

// A copy of the item, or what an id the queue no longer holds reads as: no texts, status Unknown, the
// queue's defaults, not automatic, and asked to stop (so that a worker whose item vanished stops).
QueueItem snapshotOrVanished(const QueueList &queue, std::int32_t id);

template <typename Change>
bool QueueList::change(std::int32_t id, Change change)
{
    std::lock_guard lock{m_mutex};
    const std::size_t index = indexOf(id);
    if (index == kMissing)
        return false;
    change(m_items[index]);
    refreshAt(index);
    return true;
}

} // namespace bw::core
