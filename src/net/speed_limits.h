// SPDX-License-Identifier: MIT
// The speed limits every transfer shares: one total byte rate for all running transfers together, and
// the slowest speed a transfer may keep up for its time-out before it is ended (to be resumed later).
// Set from any thread at any time; the file jobs read them when they start.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "net/rate_limiter.h"
#include "platform/clock.h"

namespace bw::net {

class SpeedLimits
{
public:
    // The clock is borrowed and must outlive the limits.
    explicit SpeedLimits(const platform::Clock &clock = platform::SystemClock::instance())
        : m_rate(clock)
    {}

    // kB/s (1 kB = 1000 bytes) for all transfers together; 0 or less turns the limit off.
    void setMaxKBps(int kBps)
    {
        m_maxKBps.store(std::max(kBps, 0));
        m_rate.setLimit(std::int64_t{std::max(kBps, 0)} * 1000);
    }

    int maxKBps() const { return m_maxKBps.load(); }

    // kB/s; 0 or less turns the minimum off.
    void setMinKBps(int kBps) { m_minKBps.store(std::max(kBps, 0)); }

    int minKBps() const { return m_minKBps.load(); }

    RateLimiter &rateLimiter() { return m_rate; }

private:
    RateLimiter m_rate;
    std::atomic<int> m_maxKBps{0};
    std::atomic<int> m_minKBps{0};
};

} // namespace bw::net
