// SPDX-License-Identifier: MIT
// Measures a file job's speed over windows of at least a second and tells when it has stayed below a
// minimum for a whole grace period. Plain arithmetic on the times and byte counts it is given, so any
// clock can drive it.
#pragma once

#include <cstdint>

namespace bw::net {

class MinSpeedWatch
{
public:
    // minKBps 0 or less: never too slow. graceSeconds 0: too slow at the first slow window.
    MinSpeedWatch(int minKBps, int graceSeconds, std::int64_t startMs, std::int64_t startBytes);

    struct Sample
    {
        int speedKBps = -1; // the last whole window's speed; -1 until a window is complete
        bool tooSlow = false;
    };

    // Called with the clock and the job's byte count at each speed check, and with how long in all the
    // job was held back by the shared rate limit: held time does not count as slow, so a total limit
    // split between many transfers does not end them.
    Sample observe(std::int64_t nowMs, std::int64_t bytes, std::int64_t heldMs = 0);

private:
    static constexpr std::int64_t kWindowMs = 1000;

    int m_minKBps;
    std::int64_t m_graceMs;
    std::int64_t m_windowStartMs;
    std::int64_t m_windowBytes;
    std::int64_t m_windowHeldMs = 0;
    std::int64_t m_slowSinceMs = -1; // start of the first slow window of the current slow run
    int m_lastSpeed = -1;
};

} // namespace bw::net
