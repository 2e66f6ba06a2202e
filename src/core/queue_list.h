// SPDX-License-Identifier: MIT
// The one shared transfer queue: items by value in list order, the queue-wide defaults, the rules that
// pick a worker's next item, and the notifications to the window. Called from the window's thread, the
// scheduler thread and every worker thread; one recursive lock guards everything, and no notification
// is ever sent while it is held.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/queue_item.h"
#include "core/queue_notifier.h"
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
    // Holds the queue lock for as long as it lives (or until `unlock`), for callers that walk the items
    // directly: the queue file and the queue view. Do not send notifications while holding it.
    class BulkLock
    {
    public:
        explicit BulkLock(QueueList &list);
        BulkLock(BulkLock &&) = default;

        void unlock() { m_lock.unlock(); }

        void lock() { m_lock.lock(); }

        bool ownsLock() const { return m_lock.owns_lock(); }

    private:
        std::unique_lock<std::recursive_mutex> m_lock;
    };

    explicit QueueList(const platform::Clock &clock = platform::SystemClock::instance());
    QueueList(const QueueList &) = delete;
    QueueList &operator=(const QueueList &) = delete;

    // The five defaults.
    QueueDefaults defaults() const;
    void setDefaults(const QueueDefaults &defaults);
    std::int32_t retryTimeDefault() const;
    void setRetryTimeDefault(std::int32_t seconds);
    std::int32_t perSiteLimit() const;
    void setPerSiteLimit(std::int32_t limit);
    std::int32_t timeoutDefault() const;
    void setTimeoutDefault(std::int32_t seconds);
    std::int32_t retryCountDefault() const;
    void setRetryCountDefault(std::int32_t count);
    bool passiveDefault() const;
    void setPassiveDefault(bool passive);

    // The receiver of the four notifications and their message numbers, set together. nullptr stops new
    // ones; a call already under way on a worker thread still completes, so destroy the receiver only
    // after the workers have stopped.
    void setNotifier(QueueNotifier *notifier, unsigned logSentMessage = kWmLogSent,
        unsigned logReceivedMessage = kWmLogReceived, unsigned logStatusMessage = kWmLogStatus,
        unsigned queueChangedMessage = kWmQueueChanged);

    // Adds an item; each of the last four settings may be -1 for the queue default. A parent item's
    // settings and attempts win over them. Returns the new id, or 0 when the URL does not parse.
    std::int32_t addItem(std::string_view url, std::string_view localPath, std::int32_t parentId = 0,
        std::int32_t retryTime = -1, std::int32_t retryCount = -1, std::int32_t timeout = -1,
        std::int32_t passive = -1);
    // Erases an item that is not in progress (true; also for an unknown id). An item in progress is asked
    // to stop and marked for removal when it ends (false).
    bool removeItem(std::int32_t id);
    // Gives the item its final status and moves it to the end of the list.
    void finishItem(std::int32_t id, std::int32_t finalStatus);
    bool contains(std::int32_t id) const;
    bool isDone(std::int32_t id) const;
    std::size_t count() const;
    // Ids of all items in list order.
    std::vector<std::int32_t> ids() const;
    // A copy of the item, for reading several values consistently.
    std::optional<QueueItem> snapshot(std::int32_t id) const;

    // Setters by id; an unknown id does nothing. `setStatus` sets the status plainly, without time stamp.
    void setStatus(std::int32_t id, std::int32_t status);
    // Re-parses the URL into the item's URL parts; localPath and automatic stay. False when the URL does
    // not parse (the item is untouched) or the id is unknown.
    bool setUrl(std::int32_t id, std::string_view url);
    void setRetryTime(std::int32_t id, std::int32_t seconds);
    void setRetryCount(std::int32_t id, std::int32_t count);
    void setAttempts(std::int32_t id, std::int32_t attempts);
    void setAbortRequested(std::int32_t id, bool requested);
    void setSelected(std::int32_t id, bool selected);
    void setAllSelected(bool selected);

    // Getters by id; an unknown id gives an empty text, 0, StatusUnknown, or the queue default.
    std::string host(std::int32_t id) const;
    std::string user(std::int32_t id) const;
    std::string password(std::int32_t id) const;
    std::string path(std::int32_t id) const;
    std::string fileName(std::int32_t id) const;
    std::string localPath(std::int32_t id) const;
    std::string url(std::int32_t id) const;
    std::int32_t port(std::int32_t id) const;
    UrlScheme scheme(std::int32_t id) const;
    std::int32_t attempts(std::int32_t id) const;
    std::int64_t bytesDone(std::int32_t id) const;
    std::int64_t totalSize(std::int32_t id) const;
    std::int64_t rateKBps(std::int32_t id) const;
    std::int32_t status(std::int32_t id) const;
    std::int32_t retryTime(std::int32_t id) const;
    std::int32_t retryCount(std::int32_t id) const;
    std::int32_t timeout(std::int32_t id) const;
    bool passive(std::int32_t id) const;
    bool automatic(std::int32_t id) const; // false for an unknown id
    bool abortRequested(std::int32_t id) const; // true for an unknown id, so its worker stops
    bool removeWhenDone(std::int32_t id) const; // false for an unknown id
    bool isSelected(std::int32_t id) const; // false for an unknown id

    // Transfer bookkeeping of a worker.
    void transferStarted(std::int32_t id);
    void transferEnded(std::int32_t id);
    // Lending and its hand-back: lendConnection(id, nullptr) gives the connection back (and ends a
    // borrow or a recall).
    void lendConnection(std::int32_t id, net::FtpConnection *connection);
    net::FtpConnection *lentConnection(std::int32_t id) const;
    // The remote browser takes the lent connection into use; from then on only it gives it back. Null
    // when nothing is lent or the job already asked for it back.
    net::FtpConnection *borrowConnection(std::int32_t id);
    // The browser turns to another item: the connection stays lent, but nobody uses it.
    void leaveConnectionLent(std::int32_t id);
    // The job must stop while its connection is lent: true when the connection is back (a connection
    // nobody borrowed is taken back at once); false while the borrower still uses it, which it learns
    // from connectionRecalled (true also for an unknown id).
    bool recallConnection(std::int32_t id);
    bool connectionRecalled(std::int32_t id) const;
    // Records progress, then (outside the lock, and only for a known id) notifies a change (0, id).
    void setProgress(std::int32_t id, std::int64_t bytesDone, std::int64_t totalSize);

    // Whether a newly started worker would find an item.
    bool anyEligible();
    // Picks the caller's next item (its own site first) and marks it Active. `continuing` says the
    // caller's current item is still counted as in progress.
    Selection selectNext(std::string_view host, std::int32_t port, std::string_view user, bool continuing);
    // After a successful upload: the site's ratio-blocked items may be tried again.
    void markRatioRecheck(std::string_view host, std::int32_t port, std::string_view user);

    // Enumerations sharing one cursor; hold a BulkLock across the calls. 0 or nullopt at the end.
    std::int32_t firstSelectedId();
    std::int32_t nextSelectedId();
    std::optional<std::string> firstUrl();
    std::optional<std::string> nextUrl();
    // The first item whose URL text equals `url`, or 0.
    std::int32_t findIdByUrl(std::string_view url) const;

    // Direct access for walkers holding a BulkLock.
    const std::vector<QueueItem> &items(const BulkLock &) const { return m_items; }

    // Gives `item` the next id and appends it (the queue file's load). Returns the id.
    std::int32_t appendItem(const BulkLock &, QueueItem item);

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

    QueueItem *find(std::int32_t id);
    const QueueItem *find(std::int32_t id) const;
    template <typename T, typename Get>
    T read(std::int32_t id, T missing, Get get) const;
    template <typename Change>
    bool change(std::int32_t id, Change change);
    std::int32_t nextId();

    // Selection helpers; the caller holds m_mutex.
    void beginPass();
    bool siteLimitReached(std::size_t index, bool continuing);
    bool siteReady(std::size_t index, std::int64_t now);

    struct Candidates
    {
        std::ptrdiff_t sameSite = -1;
        std::ptrdiff_t otherSite = -1;
    };

    void scan(Candidates &candidates, std::string_view host, std::int32_t port, std::string_view user,
        bool continuing, bool preferManual, bool takeReconnect, std::int64_t now);
    Receiver receiver() const;
    void send(
        unsigned Receiver::*message, std::uint64_t wParam, std::int64_t itemId, const std::string &text);

    const platform::Clock &m_clock;
    mutable std::recursive_mutex m_mutex;
    QueueDefaults m_defaults; // guarded by m_mutex
    std::size_t m_cursor = 0; // guarded by m_mutex
    std::vector<QueueItem> m_items; // guarded by m_mutex
    // Per selection pass: the site number of each item and the items of each site (grouped by site,
    // site k's items at m_siteMembers[m_siteStart[k] .. m_siteStart[k + 1])), so that each site's limit and
    // readiness cost one walk over that site's items. Guarded by m_mutex.
    std::vector<std::uint32_t> m_siteOf;
    std::vector<std::uint32_t> m_siteStart;
    std::vector<std::uint32_t> m_siteMembers;
    mutable std::mutex m_receiverMutex;
    Receiver m_receiver; // guarded by m_receiverMutex
};

} // namespace bw::core
