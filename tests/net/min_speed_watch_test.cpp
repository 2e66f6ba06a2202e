// SPDX-License-Identifier: MIT
// The minimum-speed watch on plain times and byte counts: when a slow transfer is ended and when not.
#include <vector>

#include <gtest/gtest.h>

#include "net/min_speed_watch.h"

namespace bw::net {
namespace {

struct Check
{
    std::int64_t nowMs;
    std::int64_t bytes;
    std::int64_t heldMs;
};

struct WatchCase
{
    const char *name;
    int minKBps;
    int graceSeconds;
    std::vector<Check> checks;
    int tooSlowAt; // index of the first check that ends the transfer, -1 for none
};

TEST(MinSpeedWatch, EndsOnlyATransferThatStaysSlowForTheWholeGrace)
{
    // Starts at 0 ms with 0 bytes; 10 kB/s is 10,000 bytes a second.
    const WatchCase cases[] = {
        {"no minimum never ends", 0, 0, {{1000, 0, 0}, {60000, 0, 0}}, -1},
        {"no grace ends at the first slow second", 10, 0, {{500, 0, 0}, {1000, 9999, 0}}, 1},
        {"fast enough goes on", 10, 5, {{1000, 10000, 0}, {2000, 20000, 0}, {9000, 90000, 0}}, -1},
        {"slow for less than the grace goes on", 10, 5, {{1000, 100, 0}, {4999, 200, 0}}, -1},
        {"slow for the whole grace ends", 10, 5, {{1000, 100, 0}, {3000, 200, 0}, {5000, 300, 0}}, 2},
        {"a stall counts as slow", 10, 3, {{1000, 0, 0}, {2000, 0, 0}, {3000, 0, 0}}, 2},
        {"a fast second starts the grace again", 10, 3,
            {{1000, 100, 0}, {2000, 200, 0}, {3000, 50000, 0}, {4000, 50100, 0}, {5000, 50200, 0},
                {6000, 50300, 0}},
            5},
        {"checks less than a second apart are not judged", 10, 0, {{300, 0, 0}, {600, 0, 0}, {999, 0, 0}},
            -1},
        {"time held back by the shared limit is not slow", 10, 2,
            {{1000, 1000, 900}, {2000, 2000, 1800}, {3000, 3000, 2700}, {4000, 4000, 3600}}, -1},
        {"held briefly and still slow ends", 10, 2, {{1000, 1000, 100}, {2000, 2000, 200}}, 1},
    };
    for (const WatchCase &c : cases) {
        MinSpeedWatch watch(c.minKBps, c.graceSeconds, 0, 0);
        int endedAt = -1;
        for (std::size_t i = 0; i < c.checks.size() && endedAt < 0; ++i) {
            if (watch.observe(c.checks[i].nowMs, c.checks[i].bytes, c.checks[i].heldMs).tooSlow)
                endedAt = static_cast<int>(i);
        }
        EXPECT_EQ(endedAt, c.tooSlowAt) << c.name;
    }
}

TEST(MinSpeedWatch, ReportsTheSpeedOfTheLastWholeWindow)
{
    MinSpeedWatch watch(0, 0, 10000, 5000); // a resumed job: its count starts at the file's length
    EXPECT_EQ(watch.observe(10500, 9000).speedKBps, -1);
    EXPECT_EQ(watch.observe(12000, 25000).speedKBps, 10); // 20,000 bytes in 2 s
    EXPECT_EQ(watch.observe(12500, 99999).speedKBps, 10); // too short a window: the last figure stays
    EXPECT_EQ(watch.observe(14000, 25000).speedKBps, 0);
}

} // namespace
} // namespace bw::net
