// SPDX-License-Identifier: MIT
// The time-out of a blocking libssh call: the driving thread arms it before the call and disarms it
// after; when the deadline passes first, a helper thread runs the expiry action (which shuts the socket,
// so that the call returns). One helper thread per watchdog, started on the first arm.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace bw::net {

class SshWatchdog
{
public:
    explicit SshWatchdog(std::function<void()> onExpiry);
    ~SshWatchdog();
    SshWatchdog(const SshWatchdog &) = delete;
    SshWatchdog &operator=(const SshWatchdog &) = delete;

    // (Re)starts the count: the action runs unless disarm() comes within `limit`. Cheap when armed.
    void arm(std::chrono::milliseconds limit);
    void disarm();

    // True when the action ran since the last arm from the disarmed state.
    bool expired() const { return m_expired.load(); }

private:
    void watch(std::stop_token stop);

    const std::function<void()> m_onExpiry;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    bool m_armed = false; // guarded by m_mutex
    std::chrono::steady_clock::time_point m_deadline; // guarded by m_mutex
    std::atomic<bool> m_expired{false};
    std::jthread m_thread; // last: it stops and joins before the members above go
};

} // namespace bw::net
