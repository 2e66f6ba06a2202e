// SPDX-License-Identifier: MIT
// The texts bellwick-cli prints: progress lines with the time left, and the line per saved file.
#include <gtest/gtest.h>

#include "app/cli/progress_display.h"
#include "app/cli/saved_files.h"

namespace bw::cli {
namespace {

TEST(ProgressTextTest, TimeLeftRoundsUpAndGrowsHours)
{
    struct Case
    {
        const char *name;
        std::int64_t bytesLeft;
        std::int64_t rateKBps;
        const char *expected;
    };

    const Case cases[] = {
        {"no speed yet", 5000, 0, ""},
        {"nothing left", 0, 10, "0:00"},
        {"part of a second counts as one", 1, 10, "0:01"},
        {"minutes", 125'000, 1, "2:05"},
        {"hours", 3'723'000, 1, "1:02:03"},
        {"sizes past 4 GB", 10'000'000'000, 100, "27:46:40"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(timeLeftText(c.bytesLeft, c.rateKBps), c.expected) << c.name;
}

TEST(ProgressTextTest, ProgressLineShowsTimeLeftOnlyWhenItCanBeKnown)
{
    EXPECT_EQ(progressLine("a.zip", 1'000'000, 3'000'000, 100),
        "a.zip  1,000,000 / 3,000,000 B  33%  100 kB/s  0:20 left");
    EXPECT_EQ(progressLine("a.zip", 1'000'000, 3'000'000, 0), "a.zip  1,000,000 / 3,000,000 B  33%  0 kB/s");
    EXPECT_EQ(progressLine("a.zip", 1'000'000, 0, 100), "a.zip  1,000,000 B  100 kB/s");
}

TEST(ProgressTextTest, SavedFileLineGivesPathSizeAndAverageSpeed)
{
    EXPECT_EQ(savedFileLine({"/tmp/a.bin", 2'000'000, 2.0}), "/tmp/a.bin  2,000,000 B  1,000 kB/s");
    // Too fast to time: counted as the shortest time measured (0.1 s), never a division by zero.
    EXPECT_EQ(savedFileLine({"/tmp/b.bin", 100'000, 0.0}), "/tmp/b.bin  100,000 B  1,000 kB/s");
    EXPECT_EQ(savedFileLine({"/tmp/empty", 0, 0.5}), "/tmp/empty  0 B  0 kB/s");
}

} // namespace
} // namespace bw::cli
