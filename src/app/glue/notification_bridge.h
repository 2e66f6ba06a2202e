// SPDX-License-Identifier: MIT
// src/app/glue (bw_glue): what joins the engine to the window program: the queue document, the settings
// store on QSettings and this bridge. May use every layer, but links only the engine and Qt Core, so the
// windowless mode carries no window code.
//
// Carries the queue's synchronous notifications to the window's thread. A worker thread's call
// blocks until the window has handled it; a call on the window's thread is handled at once. Once
// closed (at shutdown), notifications are dropped instead of waiting for a window that is gone.
#pragma once

#include <atomic>

#include <QObject>
#include <QString>

#include "core/queue_notifier.h"

namespace bw::app {

class NotificationBridge : public QObject, public core::QueueNotifier
{
    Q_OBJECT

public:
    // Lives on the thread it is created on (the window's thread).
    explicit NotificationBridge(QObject *parent = nullptr);
    // Closes and serves the senders still in flight before it goes.
    ~NotificationBridge() override;

    // Any thread. Blocks until handled when called off the window's thread.
    void notify(
        unsigned message, std::uint64_t wParam, std::int64_t itemId, const std::string &text) override;

    // From now on notifications return at once without reaching the window. Window's thread.
    void close();

    bool isClosed() const { return m_closed.load(); }

    // Calls that have begun and not yet returned.
    int sendersInFlight() const { return m_inFlight.load(); }

signals:
    // A log line (message 0x410, 0x411 or 0x412) with the sender's thread id (0 from the browser).
    void logLine(unsigned message, quint64 threadId, const QString &text);
    // The queue changed; `save` when it must be written, `itemId` 0 for all items.
    void queueChanged(bool save, qint64 itemId);

private:
    void deliver(unsigned message, quint64 wParam, qint64 itemId, const QString &text);

    std::atomic<bool> m_closed{false};
    std::atomic<int> m_inFlight{0};
};

} // namespace bw::app
