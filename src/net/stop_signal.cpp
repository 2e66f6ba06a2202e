// SPDX-License-Identifier: MIT
#include "net/stop_signal.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace bw::net {

StopSignal::StopSignal()
    : m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{}

void StopSignal::set(bool stop)
{
    std::lock_guard lock{m_mutex};
    m_stop.store(stop);
    if (stop)
        wake();
    else
        drain();
}

void StopSignal::drainIfCleared()
{
    std::lock_guard lock{m_mutex};
    if (!m_stop.load())
        drain();
}

void StopSignal::wake()
{
    if (!m_wakeFd.isOpen())
        return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd.get(), &one, sizeof one);
    m_wakePending = true;
}

void StopSignal::drain()
{
    // Only after a wake: the hot path clears the record before every block without a system call.
    if (!m_wakeFd.isOpen() || !m_wakePending)
        return;
    m_wakePending = false;
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(m_wakeFd.get(), &count, sizeof count);
}

} // namespace bw::net
