// SPDX-License-Identifier: MIT
// Wall-clock seconds, injectable so that rest times and time-outs can be tested without waiting.
#pragma once

#include <atomic>
#include <cstdint>

namespace bw::platform {

class Clock
{
public:
    virtual ~Clock() = default;
    // Whole seconds since 1970.
    virtual std::int64_t nowSeconds() const = 0;
    // Milliseconds since 1970 on the same clock, for waits that end when a whole second is reached.
    virtual std::int64_t nowMilliseconds() const = 0;
    // Milliseconds of a clock that never goes back, for rates and short intervals.
    virtual std::int64_t monotonicMilliseconds() const = 0;
};

class SystemClock final : public Clock
{
public:
    std::int64_t nowSeconds() const override;
    std::int64_t nowMilliseconds() const override;
    std::int64_t monotonicMilliseconds() const override;
    static SystemClock &instance();
};

// A clock that only moves when told to; for tests.
class ManualClock final : public Clock
{
public:
    explicit ManualClock(std::int64_t start = 1'000'000)
        : m_nowMs(start * 1000)
    {}

    std::int64_t nowSeconds() const override { return m_nowMs.load() / 1000; }

    std::int64_t nowMilliseconds() const override { return m_nowMs.load(); }

    std::int64_t monotonicMilliseconds() const override { return m_nowMs.load(); }

    void set(std::int64_t seconds) { m_nowMs.store(seconds * 1000); }

    void advance(std::int64_t seconds) { m_nowMs.fetch_add(seconds * 1000); }

    void advanceMilliseconds(std::int64_t milliseconds) { m_nowMs.fetch_add(milliseconds); }

private:
    std::atomic<std::int64_t> m_nowMs;
};

} // namespace bw::platform
