// SPDX-License-Identifier: MIT
// src/app/glue (bw_glue): what joins the engine to the window program: the queue document, the settings
// store on QSettings and this bridge. May use every layer, but links only the engine and Qt Core, so the
// windowless mode carries no window code.
//
// Delivers the queue's events to the window's thread. A posting thread only wakes the bridge with one
// queued call per batch; the bridge drains the batch on its own thread, at most every kDrainIntervalMs,
// so progress reaches the window about ten times a second. Nobody ever waits for the window.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "core/queue_events.h"

// The events travel as signal arguments (and through QSignalSpy in tests).
Q_DECLARE_METATYPE(bw::core::ItemChangedEvent)
Q_DECLARE_METATYPE(bw::core::ProgressEvent)

namespace bw::app {

class NotificationBridge : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDrainIntervalMs = 100;

    // Subscribes to `events`, which outlive the bridge. Lives on the thread it is created on (the
    // window's thread).
    explicit NotificationBridge(core::QueueEvents &events, QObject *parent = nullptr);
    ~NotificationBridge() override;

    // Stops the wake-ups and drops what waits; later events are dropped. Window's thread.
    void close();

    bool isClosed() const { return m_closed; }

    // Delivers everything that waits now. Window's thread; the wake-up calls it.
    void drain();

signals:
    // A log line (message 0x410, 0x411 or 0x412) with the sender's thread id.
    void logLine(unsigned message, quint64 threadId, const QString &text);
    // The queue as a whole changed (items added or removed); `save` when it must be written.
    void queueChanged(bool save, qint64 itemId);
    // One item changed, with its copy from that moment.
    void itemChanged(const bw::core::ItemChangedEvent &event);
    // One item's transfer moved on (the newest report when several waited).
    void progress(const bw::core::ProgressEvent &event);

private:
    void onWake();
    void deliver(core::QueueEvent &event);

    core::QueueEvents &m_events;
    QTimer m_drainTimer; // a drain put off to keep kDrainIntervalMs between two
    QElapsedTimer m_sinceDrain;
    bool m_draining = false;
    bool m_closed = false;
};

// Wires the bridge to a window with the four handlers (CMainFrame's onLogLine, onQueueChanged,
// onItemChanged and onProgress). A template, so this library needs no window code.
template <typename Window>
void connectBridge(NotificationBridge &bridge, Window &window)
{
    QObject::connect(&bridge, &NotificationBridge::logLine, &window, &Window::onLogLine);
    QObject::connect(&bridge, &NotificationBridge::queueChanged, &window, &Window::onQueueChanged);
    QObject::connect(&bridge, &NotificationBridge::itemChanged, &window, &Window::onItemChanged);
    QObject::connect(&bridge, &NotificationBridge::progress, &window, &Window::onProgress);
}

} // namespace bw::app
