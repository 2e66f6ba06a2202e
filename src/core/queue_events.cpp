// SPDX-License-Identifier: MIT
#include "core/queue_events.h"

#include "core/queue_list.h"

namespace bw::core {

unsigned logMessageOf(LogKind kind)
{
    switch (kind) {
    case LogKind::Sent:
        return kWmLogSent;
    case LogKind::Received:
        return kWmLogReceived;
    case LogKind::Status:
        break;
    }
    return kWmLogStatus;
}

QueueEvents::QueueEvents(const QueueList &queue)
    : m_queue(queue)
{}

void QueueEvents::notify(unsigned message, std::uint64_t wParam, std::int64_t itemId, const std::string &text)
{
    switch (message) {
    case kWmLogSent:
        postLogLine(LogKind::Sent, wParam, text);
        break;
    case kWmLogReceived:
        postLogLine(LogKind::Received, wParam, text);
        break;
    case kWmLogStatus:
        postLogLine(LogKind::Status, wParam, text);
        break;
    case kWmQueueChanged:
        postItemChanged(static_cast<std::int32_t>(itemId), wParam != 0);
        break;
    default:
        break;
    }
}

void QueueEvents::notifyProgress(unsigned queueChangedMessage, std::int64_t itemId)
{
    if (queueChangedMessage == kWmQueueChanged)
        postProgress(static_cast<std::int32_t>(itemId));
}

void QueueEvents::postLogLine(LogKind kind, std::uint64_t threadId, std::string text)
{
    bool wake = false;
    {
        std::lock_guard lock{m_mutex};
        wake = appendLocked(LogLineEvent{kind, threadId, std::move(text)});
    }
    if (wake)
        wakeReceiver();
}

void QueueEvents::postItemChanged(std::int32_t itemId, bool mustSave)
{
    bool wake = false;
    {
        std::lock_guard lock{m_mutex};
        if (m_closed)
            return;
        ItemChangedEvent event{itemId, mustSave, std::nullopt, EventClock::now()};
        if (itemId != 0)
            event.item = m_queue.snapshot(itemId);
        wake = appendLocked(std::move(event));
    }
    if (wake)
        wakeReceiver();
}

void QueueEvents::postProgress(std::int32_t itemId)
{
    bool wake = false;
    {
        std::lock_guard lock{m_mutex};
        if (m_closed)
            return;
        const EventClock::time_point now = EventClock::now();
        ProgressEvent event{itemId, m_queue.snapshot(itemId), now, now};
        // The newer report goes to the end, behind any change posted since the older one, so the
        // receiver never sees an older copy of the item after a newer one.
        if (const auto older = m_progressAt.find(itemId); older != m_progressAt.end()) {
            std::optional<QueueEvent> &slot = m_pending[older->second];
            event.since = std::get<ProgressEvent>(*slot).since;
            slot.reset();
        }
        m_progressAt[itemId] = m_pending.size();
        wake = appendLocked(std::move(event));
    }
    if (wake)
        wakeReceiver();
}

bool QueueEvents::appendLocked(QueueEvent event)
{
    if (m_closed)
        return false;
    m_pending.emplace_back(std::move(event));
    const bool wake = !m_wakeSent;
    m_wakeSent = true;
    return wake;
}

void QueueEvents::wakeReceiver()
{
    std::lock_guard lock{m_wakeMutex};
    if (m_wake)
        m_wake();
}

void QueueEvents::setWakeCallback(std::function<void()> wake)
{
    const bool waiting = [this] {
        std::lock_guard lock{m_mutex};
        return !m_pending.empty();
    }();
    std::lock_guard lock{m_wakeMutex};
    m_wake = std::move(wake);
    if (m_wake && waiting)
        m_wake();
}

std::vector<QueueEvent> QueueEvents::takeAll()
{
    std::vector<std::optional<QueueEvent>> taken;
    {
        std::lock_guard lock{m_mutex};
        taken.swap(m_pending);
        m_progressAt.clear();
        m_wakeSent = false;
    }
    std::vector<QueueEvent> events;
    events.reserve(taken.size());
    for (std::optional<QueueEvent> &event : taken) {
        if (event)
            events.push_back(std::move(*event));
    }
    return events;
}

void QueueEvents::close()
{
    std::vector<std::optional<QueueEvent>> dropped; // freed outside the lock
    std::lock_guard lock{m_mutex};
    m_closed = true;
    dropped.swap(m_pending);
    m_progressAt.clear();
}

bool QueueEvents::isClosed() const
{
    std::lock_guard lock{m_mutex};
    return m_closed;
}

} // namespace bw::core
