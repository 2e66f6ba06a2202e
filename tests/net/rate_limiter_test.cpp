// SPDX-License-Identifier: MIT
// The shared token bucket on a manual clock: the rate over time, the fair split, and no limit at all.
#include <gtest/gtest.h>

#include "net/rate_limiter.h"

namespace bw::net {
namespace {

// Moves as much as the limiter grants to each ticket holder, stepping the clock by `stepMs` for
// `totalMs`, and returns what each holder moved.
std::vector<std::int64_t> drain(
    std::vector<RateLimiter::Ticket> &tickets, platform::ManualClock &clock, int stepMs, int totalMs)
{
    std::vector<std::int64_t> moved(tickets.size(), 0);
    for (int t = 0; t < totalMs; t += stepMs) {
        // The first holder always asks first: the greediest order there is.
        for (std::size_t h = 0; h < tickets.size(); ++h) {
            const RateLimiter::Grant grant = tickets[h].acquire(1 << 20);
            if (grant.bytes == 0) {
                EXPECT_GT(grant.waitMs, 0);
                EXPECT_LE(grant.waitMs, 100);
            }
            moved[h] += grant.bytes;
        }
        clock.advanceMilliseconds(stepMs);
    }
    return moved;
}

TEST(RateLimiter, WithoutALimitEverythingPassesAtOnce)
{
    platform::ManualClock clock;
    RateLimiter limiter(clock);
    auto ticket = limiter.join();
    const auto grant = ticket.acquire(123456);
    EXPECT_EQ(grant.bytes, 123456);
    EXPECT_EQ(grant.waitMs, 0);
}

TEST(RateLimiter, KeepsTheTotalRateOverTime)
{
    struct Case
    {
        const char *name;
        std::int64_t limit;
        int holders;
    };

    const Case cases[] = {
        {"one transfer", 100000, 1},
        {"two transfers", 100000, 2},
        {"three transfers, slow limit", 3000, 3},
    };
    for (const Case &c : cases) {
        platform::ManualClock clock;
        RateLimiter limiter(clock);
        limiter.setLimit(c.limit);
        std::vector<RateLimiter::Ticket> tickets;
        for (int h = 0; h < c.holders; ++h)
            tickets.push_back(limiter.join());
        EXPECT_EQ(limiter.participants(), c.holders) << c.name;
        const auto moved = drain(tickets, clock, 10, 10000);
        std::int64_t total = 0;
        for (std::int64_t bytes : moved)
            total += bytes;
        // Ten seconds at the limit, plus at most the bucket the first turn found full.
        EXPECT_GE(total, c.limit * 10 * 95 / 100) << c.name;
        EXPECT_LE(total, c.limit * 10 + c.limit / 10 + 1) << c.name;
        // Fair: nobody gets more than a share of one bucket beyond the others.
        for (std::int64_t bytes : moved)
            EXPECT_NEAR(
                static_cast<double>(bytes), static_cast<double>(total) / c.holders, c.limit / 10.0 + 1)
                << c.name;
    }
}

TEST(RateLimiter, RefundedBytesAreUsableAgainAndLeavingTicketsGrowTheShare)
{
    platform::ManualClock clock;
    RateLimiter limiter(clock);
    limiter.setLimit(10000); // a full bucket holds 1000 bytes
    auto first = limiter.join();
    {
        auto second = limiter.join();
        EXPECT_EQ(first.acquire(5000).bytes, 500); // half a bucket each
        EXPECT_EQ(second.acquire(5000).bytes, 500);
        const auto empty = first.acquire(5000);
        EXPECT_EQ(empty.bytes, 0);
        EXPECT_EQ(empty.waitMs, 50); // until one share has come back
        // The first one refused goes first, even when the other asks before it comes back.
        first.refund(300);
        clock.advanceMilliseconds(20);
        EXPECT_EQ(second.acquire(5000).bytes, 0);
        EXPECT_EQ(first.acquire(5000).bytes, 500);
    }
    EXPECT_EQ(limiter.participants(), 1);
    clock.advanceMilliseconds(1000);
    EXPECT_EQ(first.acquire(5000).bytes, 1000); // alone: the whole bucket
    limiter.setLimit(0);
    EXPECT_EQ(first.acquire(5000).bytes, 5000);
}

} // namespace
} // namespace bw::net
