// SPDX-License-Identifier: MIT
// A token bucket shared by every running transfer: one byte rate for all of them together, split
// fairly between them. The send and receive loops ask it before each read or write. A limit of 0 means
// no limit, and then it costs one atomic load per block. Any thread may call it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/clock.h"

namespace bw::net {

class RateLimiter
{
public:
    // What a transfer may move now: `bytes` (0 when it must wait `waitMs` first).
    struct Grant
    {
        std::int64_t bytes = 0;
        int waitMs = 0;
    };

    // The clock is borrowed and must outlive the limiter.
    explicit RateLimiter(const platform::Clock &clock);

    // Bytes per second for all transfers together; 0 turns the limit off.
    void setLimit(std::int64_t bytesPerSecond);

    std::int64_t limit() const { return m_limit.load(); }

    // A transfer takes part in the split while it holds a ticket, and asks through it.
    class Ticket
    {
    public:
        Ticket() = default;
        explicit Ticket(RateLimiter *limiter);
        // Takes up to `wanted` bytes. Without a limiter or a limit everything is granted at once.
        Grant acquire(std::int64_t wanted);
        // Returns bytes of a grant that were not moved (a short write), so others may use them.
        void refund(std::int64_t unused);
        ~Ticket();
        Ticket(const Ticket &) = delete;
        Ticket &operator=(const Ticket &) = delete;
        Ticket(Ticket &&other) noexcept;
        Ticket &operator=(Ticket &&other) noexcept;

    private:
        RateLimiter *m_limiter = nullptr;
        std::uint64_t m_id = 0;
    };

    Ticket join() { return Ticket(this); }

    int participants() const;

private:
    Grant acquire(std::uint64_t ticket, std::int64_t wanted);
    void refund(std::int64_t unused);
    void leave(std::uint64_t ticket);
    void refill(std::int64_t nowMs); // m_mutex held
    std::int64_t capacity() const; // bytes of a full bucket

    // A full bucket holds a tenth of a second's worth: a transfer that waited cannot burst far past
    // the limit, and a block is split into pieces small enough to keep the rate smooth.
    static constexpr std::int64_t kBucketMs = 100;
    static constexpr int kLongestWaitMs = 100;

    const platform::Clock &m_clock;
    std::atomic<std::int64_t> m_limit{0};

    mutable std::mutex m_mutex;
    std::int64_t m_tokens = 0; // guarded by m_mutex
    std::int64_t m_lastRefillMs = -1; // guarded by m_mutex
    int m_participants = 0; // guarded by m_mutex
    std::uint64_t m_nextTicket = 1; // guarded by m_mutex
    // Tickets refused for want of bytes, by the order they asked: the first of them goes next.
    std::map<std::uint64_t, std::uint64_t> m_waiting; // arrival -> ticket; guarded by m_mutex
    std::uint64_t m_nextArrival = 1; // guarded by m_mutex
};

} // namespace bw::net
