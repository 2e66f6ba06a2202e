// SPDX-License-Identifier: MIT
// The queue's typed events for one receiver (the window, or bellwick-cli): an item changed, with a copy
// of the item as it was then; a transfer's progress; a log line. Senders on any thread post and return
// at once, never waiting for the receiver, which drains the events on its own thread. Progress is
// coalesced per item, log lines keep their order and text, and every change and save request is kept.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "core/queue_item.h"
#include "core/queue_notifier.h"

namespace bw::core {

class QueueList;

using EventClock = std::chrono::steady_clock;

// An item changed. `item` is its copy from when the event was posted (nullopt: it had left the queue),
// so an event that arrives after the item changed again shows no mix of old and new. `itemId` 0 stands
// for the queue as a whole (items added or removed) and carries no copy.
struct ItemChangedEvent
{
    std::int32_t itemId = 0;
    bool mustSave = false;
    std::optional<QueueItem> item;
    EventClock::time_point postedAt;
};

// A transfer moved on. At most one per item waits to be drained: a newer one takes the older one's
// place at the end of the queue and keeps its `since`.
struct ProgressEvent
{
    std::int32_t itemId = 0;
    std::optional<QueueItem> item;
    EventClock::time_point postedAt;
    EventClock::time_point since; // when the first of the reports it stands for was posted
};

enum class LogKind
{
    Sent, // a command
    Received, // a reply
    Status,
};

struct LogLineEvent
{
    LogKind kind = LogKind::Status;
    std::uint64_t threadId = 0; // the sending thread's id, as the log panes show it
    std::string text;
};

using QueueEvent = std::variant<ItemChangedEvent, ProgressEvent, LogLineEvent>;

// The message number the log panes know a kind by (kWmLogSent, kWmLogReceived, kWmLogStatus).
unsigned logMessageOf(LogKind kind);

class QueueEvents final : public QueueNotifier
{
public:
    // `queue` gives the copies of changed items and outlives this object.
    explicit QueueEvents(const QueueList &queue);

    // As the queue's notifier, registered with the default message numbers. Any thread; never waits for
    // the receiver. A copy of a changed item is taken while the event is queued, so two posts about one
    // item are drained in the order their copies were taken. Callers hold no queue lock (the queue
    // never notifies under it).
    void notify(
        unsigned message, std::uint64_t wParam, std::int64_t itemId, const std::string &text) override;
    void notifyProgress(unsigned queueChangedMessage, std::int64_t itemId) override;

    void postLogLine(LogKind kind, std::uint64_t threadId, std::string text);
    void postItemChanged(std::int32_t itemId, bool mustSave);
    void postProgress(std::int32_t itemId);

    // Called on a posting thread when the queue turns non-empty: once per batch, until the next
    // takeAll. It must only arrange a drain, never wait for one. Setting it waits for a call under way,
    // so once it is set to nullptr its target may go. Set while events wait, it is called at once.
    void setWakeCallback(std::function<void()> wake);

    // The receiver's thread: everything posted since the last call, in posting order.
    std::vector<QueueEvent> takeAll();

    // Drops what waits; from now on posts are dropped. Any thread.
    void close();
    bool isClosed() const;

private:
    // Appends under m_mutex; returns whether the receiver must be woken.
    bool appendLocked(QueueEvent event);
    void wakeReceiver();

    const QueueList &m_queue;
    mutable std::mutex m_mutex; // taken before the queue's own lock (for the copies), never after it
    std::vector<std::optional<QueueEvent>> m_pending; // guarded by m_mutex; nullopt: replaced progress
    std::unordered_map<std::int32_t, std::size_t> m_progressAt; // guarded by m_mutex: index in m_pending
    bool m_wakeSent = false; // guarded by m_mutex: the receiver was woken and has not drained yet
    bool m_closed = false; // guarded by m_mutex
    // Held while the callback runs, so that replacing it waits for a call under way.
    std::mutex m_wakeMutex;
    std::function<void()> m_wake; // guarded by m_wakeMutex
};

} // namespace bw::core
