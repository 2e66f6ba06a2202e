// SPDX-License-Identifier: MIT
// What the FTP and HTTP clients share about reporting: the connection id their log lines carry, the
// item's time-out, and the observer that hears their notifications (on the thread running the call).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/diagnostic_log.h"
#include "net/connection_notification.h"
#include "net/log_levels.h"

namespace bw::net {

class ConnectionReporter
{
public:
    void setConnectionId(int id) { m_connectionId.store(id); }

    int connectionId() const { return m_connectionId.load(); }

    void setTimeout(int seconds) { m_timeout.store(seconds); }

    int timeout() const { return m_timeout.load(); }

    // Set by the owner while no operation runs.
    void setObserver(ConnectionObserver observer, void *context)
    {
        m_observer = observer;
        m_observerContext = context;
    }

    // "[id] : message" in the diagnostic log.
    void log(const std::string &message, int level) const
    {
        core::DiagnosticLog::instance().write("[" + std::to_string(connectionId()) + "] : " + message, level);
    }

    // A line for the diagnostic log and the owner's status log.
    void logStatus(const std::string &message) const
    {
        log(message, kLogOutcome);
        notify(NotifyStatus, 0, 0, message);
    }

    void notify(int kind, std::int64_t first, std::int64_t second, const std::string &text) const
    {
        if (!m_observer)
            return;
        ConnectionNotification notification;
        notification.kind = kind;
        notification.first = first;
        notification.second = second;
        notification.text = text;
        m_observer(m_observerContext, notification);
    }

private:
    std::atomic<int> m_connectionId{0};
    std::atomic<int> m_timeout{30};
    ConnectionObserver m_observer = nullptr;
    void *m_observerContext = nullptr;
};

} // namespace bw::net
