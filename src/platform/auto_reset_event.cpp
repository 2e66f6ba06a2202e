// SPDX-License-Identifier: MIT
#include "platform/auto_reset_event.h"

#include <chrono>

namespace bw::platform {

AutoResetEvent::AutoResetEvent(bool initiallySet)
    : m_set(initiallySet)
{}

void AutoResetEvent::set()
{
    {
        std::lock_guard lock{m_mutex};
        m_set = true;
    }
    m_changed.notify_one();
}

void AutoResetEvent::reset()
{
    std::lock_guard lock{m_mutex};
    m_set = false;
}

void AutoResetEvent::wait()
{
    std::unique_lock lock{m_mutex};
    m_changed.wait(lock, [this] { return m_set; });
    m_set = false;
}

bool AutoResetEvent::waitFor(int timeoutMs)
{
    std::unique_lock lock{m_mutex};
    if (!m_changed.wait_for(
            lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs), [this] { return m_set; }))
        return false;
    m_set = false;
    return true;
}

} // namespace bw::platform
