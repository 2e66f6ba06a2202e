// SPDX-License-Identifier: MIT
#include "net/rate_limiter.h"

#include <algorithm>
#include <utility>

namespace bw::net {

RateLimiter::RateLimiter(const platform::Clock &clock)
    : m_clock(clock)
{}

void RateLimiter::setLimit(std::int64_t bytesPerSecond)
{
    std::lock_guard lock{m_mutex};
    m_limit.store(std::max<std::int64_t>(bytesPerSecond, 0));
    m_tokens = 0;
    m_lastRefillMs = -1;
}

RateLimiter::Ticket::Ticket(RateLimiter *limiter)
    : m_limiter(limiter)
{
    if (m_limiter) {
        std::lock_guard lock{m_limiter->m_mutex};
        ++m_limiter->m_participants;
        m_id = m_limiter->m_nextTicket++;
    }
}

RateLimiter::Ticket::~Ticket()
{
    if (m_limiter)
        m_limiter->leave(m_id);
}

RateLimiter::Ticket::Ticket(Ticket &&other) noexcept
    : m_limiter(std::exchange(other.m_limiter, nullptr))
    , m_id(std::exchange(other.m_id, 0))
{}

RateLimiter::Ticket &RateLimiter::Ticket::operator=(Ticket &&other) noexcept
{
    if (this != &other) {
        Ticket old(std::move(*this));
        m_limiter = std::exchange(other.m_limiter, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

RateLimiter::Grant RateLimiter::Ticket::acquire(std::int64_t wanted)
{
    if (!m_limiter)
        return {std::max<std::int64_t>(wanted, 0), 0};
    return m_limiter->acquire(m_id, wanted);
}

void RateLimiter::Ticket::refund(std::int64_t unused)
{
    if (m_limiter)
        m_limiter->refund(unused);
}

void RateLimiter::leave(std::uint64_t ticket)
{
    std::lock_guard lock{m_mutex};
    --m_participants;
    std::erase_if(m_waiting, [&](const auto &entry) { return entry.second == ticket; });
}

int RateLimiter::participants() const
{
    std::lock_guard lock{m_mutex};
    return m_participants;
}

std::int64_t RateLimiter::capacity() const
{
    return std::max<std::int64_t>(m_limit.load() * kBucketMs / 1000, 1);
}

void RateLimiter::refill(std::int64_t nowMs)
{
    if (m_lastRefillMs < 0) {
        // A fresh bucket starts full, so the first block need not wait.
        m_tokens = capacity();
    } else if (nowMs > m_lastRefillMs) {
        m_tokens = std::min(capacity(), m_tokens + (nowMs - m_lastRefillMs) * m_limit.load() / 1000);
    }
    m_lastRefillMs = nowMs;
}

RateLimiter::Grant RateLimiter::acquire(std::uint64_t ticket, std::int64_t wanted)
{
    const std::int64_t limit = m_limit.load();
    if (limit <= 0 || wanted <= 0)
        return {std::max<std::int64_t>(wanted, 0), 0};
    std::lock_guard lock{m_mutex};
    refill(m_clock.monotonicMilliseconds());
    // Fair split: a transfer takes at most its share of a full bucket at a time, and when bytes are
    // short the transfers take turns in the order they were refused, so a fast asker cannot starve
    // the others.
    const std::int64_t share = std::max<std::int64_t>(capacity() / std::max(m_participants, 1), 1);
    const std::int64_t need = std::min(share, wanted);
    // A turn does not wait for a whole share: a reader whose socket holds less than a share would
    // otherwise hand most of it back and wait again, and fall far below the limit. A quarter keeps
    // the grants large enough for few system calls.
    const std::int64_t least = std::max<std::int64_t>(need / 4, 1);
    const auto waiting = std::find_if(
        m_waiting.begin(), m_waiting.end(), [&](const auto &entry) { return entry.second == ticket; });
    const bool myTurn = m_waiting.empty() || m_waiting.begin()->second == ticket;
    if (m_tokens >= least && myTurn) {
        if (waiting != m_waiting.end())
            m_waiting.erase(waiting);
        const std::int64_t granted = std::min(need, m_tokens);
        m_tokens -= granted;
        return {granted, 0};
    }
    if (waiting == m_waiting.end())
        m_waiting.emplace(m_nextArrival++, ticket);
    // Wait until a share has come back, within bounds that keep stop requests prompt.
    const std::int64_t missing = std::max<std::int64_t>(need - m_tokens, 1);
    const std::int64_t waitMs = (missing * 1000 + limit - 1) / limit;
    return {0, static_cast<int>(std::clamp<std::int64_t>(waitMs, 1, kLongestWaitMs))};
}

void RateLimiter::refund(std::int64_t unused)
{
    if (unused <= 0 || m_limit.load() <= 0)
        return;
    std::lock_guard lock{m_mutex};
    m_tokens = std::min(capacity(), m_tokens + unused);
}

} // namespace bw::net
