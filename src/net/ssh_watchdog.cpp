// SPDX-License-Identifier: MIT
#include "net/ssh_watchdog.h"

namespace bw::net {

SshWatchdog::SshWatchdog(std::function<void()> onExpiry)
    : m_onExpiry(std::move(onExpiry))
{}

SshWatchdog::~SshWatchdog() = default;

void SshWatchdog::arm(std::chrono::milliseconds limit)
{
    bool wake = false;
    {
        std::lock_guard lock{m_mutex};
        if (!m_armed)
            m_expired.store(false);
        wake = !m_armed;
        m_armed = true;
        m_deadline = std::chrono::steady_clock::now() + limit;
        if (!m_thread.joinable())
            m_thread = std::jthread([this](std::stop_token stop) { watch(stop); });
    }
    // A later deadline needs no wake-up: the helper sees it when the earlier one passes.
    if (wake)
        m_changed.notify_one();
}

void SshWatchdog::disarm()
{
    std::lock_guard lock{m_mutex};
    m_armed = false;
}

void SshWatchdog::watch(std::stop_token stop)
{
    std::unique_lock lock{m_mutex};
    while (!stop.stop_requested()) {
        if (!m_armed) {
            m_changed.wait(lock, stop, [this] { return m_armed; });
            continue;
        }
        const auto deadline = m_deadline;
        m_changed.wait_until(
            lock, stop, deadline, [this, deadline] { return !m_armed || m_deadline != deadline; });
        if (m_armed && m_deadline == deadline && std::chrono::steady_clock::now() >= deadline) {
            m_armed = false;
            m_expired.store(true);
            lock.unlock();
            m_onExpiry();
            lock.lock();
        }
    }
}

} // namespace bw::net
