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
};

class SystemClock final : public Clock
{
public:
    std::int64_t nowSeconds() const override;
    static SystemClock &instance();
};

// A clock that only moves when told to; for tests.
class ManualClock final : public Clock
{
public:
    explicit ManualClock(std::int64_t start = 1'000'000)
        : m_now(start)
    {
    }

    std::int64_t nowSeconds() const override { return m_now.load(); }
    void set(std::int64_t seconds) { m_now.store(seconds); }
    void advance(std::int64_t seconds) { m_now.fetch_add(seconds); }

private:
    std::atomic<std::int64_t> m_now;
};

} // namespace bw::platform
