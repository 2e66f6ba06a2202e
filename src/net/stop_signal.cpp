// SPDX-License-Identifier: MIT
#include "net/stop_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace bw::net {

StopSignal::StopSignal()
    : m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{}

void StopSignal::request(std::int32_t code)
{
    std::lock_guard lock{m_mutex};
    m_code.store(code != 0 ? code : 1);
    if (!m_wakeFd.isOpen())
        return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd.get(), &one, sizeof one);
    m_wakePending = true;
}

void StopSignal::clear()
{
    std::lock_guard lock{m_mutex};
    m_code.store(0);
    drain();
}

void StopSignal::drainIfCleared()
{
    std::lock_guard lock{m_mutex};
    if (m_code.load() == 0)
        drain();
}

void StopSignal::drain()
{
    // Only after a wake: clearing a request that was never made costs no system call.
    if (!m_wakeFd.isOpen() || !m_wakePending)
        return;
    m_wakePending = false;
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(m_wakeFd.get(), &count, sizeof count);
}

} // namespace bw::net
