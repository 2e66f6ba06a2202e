// SPDX-License-Identifier: MIT
#include "app/glue/notification_bridge.h"

#include <algorithm>

namespace bw::app {

NotificationBridge::NotificationBridge(core::QueueEvents &events, QObject *parent)
    : QObject(parent)
    , m_events(events)
{
    m_drainTimer.setSingleShot(true);
    m_drainTimer.setTimerType(Qt::PreciseTimer); // a coarse timer may come early
    connect(&m_drainTimer, &QTimer::timeout, this, &NotificationBridge::drain);
    // Runs on a posting thread: only queues the call, never waits for this thread.
    m_events.setWakeCallback(
        [this] { QMetaObject::invokeMethod(this, &NotificationBridge::onWake, Qt::QueuedConnection); });
}

NotificationBridge::~NotificationBridge()
{
    // Waits for a wake-up under way, so no poster reaches this object once it is gone.
    m_events.setWakeCallback(nullptr);
}

void NotificationBridge::close()
{
    m_closed = true;
    m_drainTimer.stop();
    m_events.setWakeCallback(nullptr);
    m_events.close();
}

void NotificationBridge::onWake()
{
    if (m_closed || m_drainTimer.isActive())
        return;
    const qint64 since = m_sinceDrain.isValid() ? m_sinceDrain.elapsed() : kDrainIntervalMs;
    // A drain inside a drain (a handler ran a modal loop) would show newer copies before older ones.
    if (m_draining || since < kDrainIntervalMs)
        m_drainTimer.start(static_cast<int>(std::max<qint64>(kDrainIntervalMs - since, 0)));
    else
        drain();
}

void NotificationBridge::drain()
{
    if (m_closed)
        return;
    if (m_draining) {
        m_drainTimer.start(kDrainIntervalMs);
        return;
    }
    m_draining = true;
    m_sinceDrain.start();
    std::vector<core::QueueEvent> events = m_events.takeAll();
    for (core::QueueEvent &event : events) {
        if (m_closed)
            break;
        deliver(event);
    }
    m_draining = false;
}

void NotificationBridge::deliver(core::QueueEvent &event)
{
    if (auto *line = std::get_if<core::LogLineEvent>(&event)) {
        emit logLine(core::logMessageOf(line->kind), line->threadId, QString::fromStdString(line->text));
    } else if (auto *change = std::get_if<core::ItemChangedEvent>(&event)) {
        if (change->itemId == 0)
            emit queueChanged(change->mustSave, 0);
        else
            emit itemChanged(*change);
    } else if (auto *moved = std::get_if<core::ProgressEvent>(&event)) {
        emit progress(*moved);
    }
}

} // namespace bw::app
