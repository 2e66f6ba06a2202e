// SPDX-License-Identifier: MIT
#include "net/min_speed_watch.h"

#include <algorithm>

namespace bw::net {

MinSpeedWatch::MinSpeedWatch(int minKBps, int graceSeconds, std::int64_t startMs, std::int64_t startBytes)
    : m_minKBps(minKBps)
    , m_graceMs(std::int64_t{std::max(graceSeconds, 0)} * 1000)
    , m_windowStartMs(startMs)
    , m_windowBytes(startBytes)
{}

MinSpeedWatch::Sample MinSpeedWatch::observe(std::int64_t nowMs, std::int64_t bytes, std::int64_t heldMs)
{
    const std::int64_t elapsedMs = nowMs - m_windowStartMs;
    if (elapsedMs < kWindowMs)
        return {m_lastSpeed, false};
    // Bytes per millisecond are kB per second (1 kB = 1000 bytes).
    const std::int64_t moved = std::max<std::int64_t>(bytes - m_windowBytes, 0);
    m_lastSpeed = static_cast<int>(moved / elapsedMs);
    // Judged on the time the job was free to move bytes.
    const std::int64_t freeMs = elapsedMs - std::clamp<std::int64_t>(heldMs - m_windowHeldMs, 0, elapsedMs);
    const bool slow = freeMs > 0 && moved / freeMs < m_minKBps;
    bool tooSlow = false;
    if (m_minKBps > 0 && slow) {
        if (m_slowSinceMs < 0)
            m_slowSinceMs = m_windowStartMs;
        tooSlow = nowMs - m_slowSinceMs >= m_graceMs;
    } else {
        m_slowSinceMs = -1;
    }
    m_windowStartMs = nowMs;
    m_windowBytes = bytes;
    m_windowHeldMs = heldMs;
    return {m_lastSpeed, tooSlow};
}

} // namespace bw::net
