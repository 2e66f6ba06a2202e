// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/queue_list.h"
#include "engine/queue_file.h"
#include "engine/queue_file_blocks.h"
#include "engine/segment_state.h"

namespace bw::engine {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

TEST(SegmentPlan, CutsTheMissingRangesForTheConnections)
{
    struct Case
    {
        const char *name;
        std::vector<ByteRange> left;
        int connections;
        std::vector<ByteRange> expected;
    };

    const Case cases[] = {
        {"one range in four", {{0, 16 * kMiB}}, 4,
            {{0, 4 * kMiB}, {4 * kMiB, 8 * kMiB}, {8 * kMiB, 12 * kMiB}, {12 * kMiB, 16 * kMiB}}},
        {"the largest is split first", {{0, 2 * kMiB}, {10 * kMiB, 18 * kMiB}}, 3,
            {{0, 2 * kMiB}, {10 * kMiB, 14 * kMiB}, {14 * kMiB, 18 * kMiB}}},
        {"no half below the minimum", {{0, 3 * kMiB}}, 4,
            {{0, kMiB + kMiB / 2}, {kMiB + kMiB / 2, 3 * kMiB}}},
        {"more ranges than connections stay", {{0, kMiB}, {2 * kMiB, 3 * kMiB}, {5 * kMiB, 6 * kMiB}}, 2,
            {{0, kMiB}, {2 * kMiB, 3 * kMiB}, {5 * kMiB, 6 * kMiB}}},
        {"empty ranges go", {{4, 4}, {0, kMiB}}, 1, {{0, kMiB}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(planSegments(c.left, c.connections, kMiB), c.expected) << c.name;
}

TEST(SegmentPlan, ARunningSegmentGivesAwayItsSecondHalfOnlyWhenBothHalvesAreBigEnough)
{
    ByteRange running{3 * kMiB, 7 * kMiB};
    EXPECT_EQ(splitRunning(running, kMiB), (ByteRange{5 * kMiB, 7 * kMiB}));
    EXPECT_EQ(running, (ByteRange{3 * kMiB, 5 * kMiB}));
    ByteRange small{0, 2 * kMiB - 1};
    EXPECT_FALSE(splitRunning(small, kMiB));
    EXPECT_EQ(small.end, 2 * kMiB - 1);
}

TEST(SegmentState, ReadsBackWhatItWroteAndRefusesStatesThatCannotDescribeTheFile)
{
    const SegmentState good{"\"5f-1a\"", 20 * kMiB, {{kMiB, 2 * kMiB}, {9 * kMiB, 20 * kMiB}}};
    EXPECT_EQ(decodeSegmentState(encodeSegmentState(good)), good);
    const std::string bytes = encodeSegmentState(good);

    struct Case
    {
        const char *name;
        std::string bytes;
    };

    const Case bad[] = {
        {"cut short", bytes.substr(0, bytes.size() - 3)},
        {"trailing bytes", bytes + "x"},
        {"overlapping", encodeSegmentState({"v", 10, {{0, 6}, {5, 8}}})},
        {"out of order", encodeSegmentState({"v", 10, {{5, 8}, {0, 2}}})},
        {"past the end", encodeSegmentState({"v", 10, {{5, 11}}})},
        {"empty range", encodeSegmentState({"v", 10, {{5, 5}}})},
        {"negative start", encodeSegmentState({"v", 10, {{-4, 2}}})},
    };
    for (const Case &c : bad)
        EXPECT_FALSE(decodeSegmentState(c.bytes)) << c.name;
    // The part file must hold every byte written: up to the last missing range when it runs to the end.
    EXPECT_EQ(writtenExtent(good), 9 * kMiB);
    EXPECT_EQ(writtenExtent({"v", 10, {{2, 4}}}), 10);
    EXPECT_EQ(writtenExtent({"v", 10, {}}), 10);
}

TEST(SegmentState, TheQueueFileKeepsStatesInABlockThatOlderFilesDoNotHave)
{
    core::QueueList queue;
    queue.addItem("http://h/a.bin", "/tmp/a.bin");
    const std::int32_t second = queue.addItem("http://h/b.bin", "/tmp/b.bin");
    const std::string plain = encodeQueue(queue);
    const std::string state = encodeSegmentState({"v", 10, {{2, 4}}});
    queue.setSegmentState(second, state);
    const std::string withBlock = encodeQueue(queue);
    // Without segments the file is what it always was; with them, one block follows the records.
    std::string expected = plain;
    appendBlock(expected, kSegmentBlockTag, encodeSegmentBlock({{1, state}}));
    EXPECT_EQ(withBlock, expected);

    struct Case
    {
        const char *name;
        std::string bytes;
        std::string secondState;
        bool reportsDamage;
    };

    std::string unknownFirst = plain;
    appendBlock(unknownFirst, kChecksumBlockTag, "anything");
    unknownFirst += withBlock.substr(plain.size());
    const Case cases[] = {
        {"kept", withBlock, state, false},
        {"an unknown block is skipped", unknownFirst, state, false},
        {"a block cut short loses only itself", withBlock.substr(0, withBlock.size() - 2), "", true},
    };
    for (const Case &c : cases) {
        core::QueueList loaded;
        const QueueFileLoadResult result = decodeQueue(c.bytes, loaded);
        ASSERT_EQ(result.loadedCount, 2) << c.name;
        EXPECT_FALSE(result.damaged) << c.name;
        EXPECT_EQ(result.unreadBytes != 0, c.reportsDamage) << c.name;
        EXPECT_EQ(loaded.snapshot()[1].segmentState, c.secondState) << c.name;
        EXPECT_EQ(loaded.snapshot()[0].segmentState, "") << c.name;
    }
}

} // namespace
} // namespace bw::engine
