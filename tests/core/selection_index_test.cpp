// SPDX-License-Identifier: MIT
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "core/selection_index.h"

namespace bw::core {
namespace {

ItemFacts resting(std::uint64_t order, std::uint32_t site, std::int64_t restEnd)
{
    return {.order = order, .site = site, .kind = TakeKind::Ordinary, .rests = true, .restEnd = restEnd};
}

ItemFacts taking(std::uint64_t order, std::uint32_t site, TakeKind kind)
{
    return {.order = order, .site = site, .kind = kind};
}

TEST(SelectionIndexTest, LatestRestEndFallsBackWhenItsItemsGo)
{
    SelectionIndex index;
    index.add(resting(1, 0, 50));
    index.add(resting(2, 0, 80));
    index.add(resting(3, 0, 80)); // two items end their rest in the same second
    index.add(resting(4, 1, 90)); // another site's rest does not count
    EXPECT_EQ(index.sites()[0].latestRestEnd, 80);
    EXPECT_FALSE(index.sites()[0].rested(80));
    EXPECT_TRUE(index.sites()[0].rested(81));

    index.remove(resting(2, 0, 80));
    EXPECT_EQ(index.sites()[0].latestRestEnd, 80);
    index.remove(resting(3, 0, 80));
    EXPECT_EQ(index.sites()[0].latestRestEnd, 50);
    EXPECT_TRUE(index.sites()[0].rested(51));
    index.remove(resting(1, 0, 50));
    EXPECT_FALSE(index.sites()[0].rests);
    EXPECT_TRUE(index.sites()[0].rested(std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(index.sites()[1].latestRestEnd, 90);
}

TEST(SelectionIndexTest, FirstItemOfEachKindFollowsRemovals)
{
    SelectionIndex index;
    index.add(taking(7, 2, TakeKind::Ordinary));
    index.add(taking(3, 2, TakeKind::Ordinary));
    index.add(taking(5, 2, TakeKind::Manual));
    index.add(taking(1, 3, TakeKind::Ordinary)); // earlier, but on another site
    index.add(taking(2, 2, TakeKind::None));
    const auto first = [&](TakeKind kind) {
        return index.sites()[2].first[static_cast<std::size_t>(kind)];
    };
    EXPECT_EQ(first(TakeKind::Ordinary), 3u);
    EXPECT_EQ(first(TakeKind::Manual), 5u);
    EXPECT_EQ(first(TakeKind::Reconnect), SelectionIndex::kNoItem);

    index.remove(taking(3, 2, TakeKind::Ordinary));
    EXPECT_EQ(first(TakeKind::Ordinary), 7u);
    index.remove(taking(7, 2, TakeKind::Ordinary));
    EXPECT_EQ(first(TakeKind::Ordinary), SelectionIndex::kNoItem);
    EXPECT_TRUE(index.sites()[2].hasWork());
    index.remove(taking(5, 2, TakeKind::Manual));
    EXPECT_FALSE(index.sites()[2].hasWork());
    EXPECT_EQ(index.sites()[3].first[static_cast<std::size_t>(TakeKind::Ordinary)], 1u);
}

TEST(SelectionIndexTest, RestEndSaturatesInsteadOfOverflowing)
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

    struct Case
    {
        const char *name;
        std::int64_t statusTime;
        std::int32_t retryTime;
        std::int64_t restEnd;
    };

    const Case cases[] = {
        {"plain", 1000, 30, 1030},
        {"negative retry time", 1000, -40, 960},
        {"at the top", kMax - 10, 30, kMax},
        {"just below the top", kMax - 30, 30, kMax},
    };
    for (const Case &c : cases)
        EXPECT_EQ(restEndOf(c.statusTime, c.retryTime), c.restEnd) << c.name;
}

} // namespace
} // namespace bw::core
