// SPDX-License-Identifier: MIT
// The shared token bucket on a manual clock: the rate over time, the fair split, and no limit at all.
#include <algorithm>
#include <vector>

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

// Transfers whose network delivers `capacity` bytes per step into a socket buffer of 256 KiB, asking
// the limiter for a share before each read and handing back what the read did not use, as the file
// jobs do. Returns the bytes each moved per step.
std::vector<std::vector<std::int64_t>> runTransfers(RateLimiter &limiter, platform::ManualClock &clock,
    const std::vector<std::int64_t> &capacity, int stepMs, int steps)
{
    std::vector<RateLimiter::Ticket> tickets;
    for (std::size_t h = 0; h < capacity.size(); ++h)
        tickets.push_back(limiter.join());
    std::vector<std::vector<std::int64_t>> moved(capacity.size(), std::vector<std::int64_t>(steps, 0));
    std::vector<std::int64_t> buffered(capacity.size(), 0);
    std::uint64_t seed = 42;
    for (int step = 0; step < steps; ++step) {
        // The transfers ask in a different order at every step, as threads would.
        std::vector<std::size_t> order(capacity.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        for (std::size_t k = order.size(); k > 1; --k) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            std::swap(order[k - 1], order[(seed >> 33) % k]);
        }
        for (const std::size_t h : order) {
            buffered[h] = std::min<std::int64_t>(buffered[h] + capacity[h], 256 * 1024);
            std::int64_t &room = buffered[h];
            while (room > 0) {
                const RateLimiter::Grant grant = tickets[h].acquire(512 * 1024);
                if (grant.bytes == 0)
                    break;
                const std::int64_t used = std::min(grant.bytes, room);
                tickets[h].refund(grant.bytes - used);
                moved[h][step] += used;
                room -= used;
            }
        }
        clock.advanceMilliseconds(stepMs);
    }
    return moved;
}

TEST(RateLimiter, StaysWithinFivePercentOverAnyFiveSecondsAndSharesFairly)
{
    constexpr std::int64_t kLimit = 5'000'000; // 5,000 kB/s
    constexpr std::int64_t kGreedy = 1 << 30;

    struct Case
    {
        const char *name;
        std::vector<std::int64_t> capacityPerStep; // bytes per 10 ms step
        std::vector<double> expectedShare; // of the limit, per transfer
    };

    const std::vector<Case> cases = {
        {"one transfer", {kGreedy}, {1.0}},
        {"two transfers split evenly", {kGreedy, kGreedy}, {0.5, 0.5}},
        {"five transfers split evenly", {kGreedy, kGreedy, kGreedy, kGreedy, kGreedy},
            {0.2, 0.2, 0.2, 0.2, 0.2}},
        // A transfer that cannot use its share keeps what it can use; the others take the rest.
        {"a slow transfer keeps its speed", {kGreedy, kGreedy, 5000}, {0.45, 0.45, 0.1}},
    };
    constexpr int kStepMs = 10;
    constexpr int kSteps = 2000; // 20 s
    constexpr int kWindowSteps = 5000 / kStepMs;
    for (const Case &c : cases) {
        platform::ManualClock clock;
        RateLimiter limiter(clock);
        limiter.setLimit(kLimit);
        const auto moved = runTransfers(limiter, clock, c.capacityPerStep, kStepMs, kSteps);
        std::vector<std::int64_t> total(kSteps, 0);
        for (const auto &perStep : moved)
            for (int step = 0; step < kSteps; ++step)
                total[step] += perStep[step];
        // Every 5 s window, wherever it starts.
        std::int64_t window = 0;
        for (int step = 0; step < kSteps; ++step) {
            window += total[step];
            if (step >= kWindowSteps)
                window -= total[step - kWindowSteps];
            if (step + 1 >= kWindowSteps) {
                ASSERT_LE(window, kLimit * 5 * 105 / 100) << c.name << " window ending at step " << step;
                ASSERT_GE(window, kLimit * 5 * 95 / 100) << c.name << " window ending at step " << step;
            }
        }
        for (std::size_t h = 0; h < moved.size(); ++h) {
            std::int64_t bytes = 0;
            for (std::int64_t b : moved[h])
                bytes += b;
            const double share = static_cast<double>(bytes) / (kLimit * 20.0);
            EXPECT_NEAR(share, c.expectedShare[h], 0.02) << c.name << " transfer " << h;
        }
    }
}

TEST(RateLimiter, AChangedLimitTakesEffectAtOnce)
{
    platform::ManualClock clock;
    RateLimiter limiter(clock);
    limiter.setLimit(1'000'000);
    auto moved = runTransfers(limiter, clock, {1 << 30}, 10, 500);
    limiter.setLimit(200'000);
    auto slower = runTransfers(limiter, clock, {1 << 30}, 10, 500);
    std::int64_t first = 0;
    std::int64_t second = 0;
    for (int step = 100; step < 500; ++step) { // the last 4 s of each 5 s run
        first += moved[0][step];
        second += slower[0][step];
    }
    EXPECT_NEAR(static_cast<double>(first), 4'000'000.0, 40'000.0);
    EXPECT_NEAR(static_cast<double>(second), 800'000.0, 8'000.0);
}

} // namespace
} // namespace bw::net
