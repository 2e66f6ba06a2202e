// SPDX-License-Identifier: MIT
// The bounds of a queued folder tree: its depth, and each server folder expanded once per tree.
#include <string>

#include <gtest/gtest.h>

#include "engine/remote_tree_bounds.h"

namespace bw::engine {
namespace {

TEST(RemoteTreeBounds, EachFolderIsExpandedOncePerTreeAndRetriesMayComeBack)
{
    RemoteTreeBounds bounds;
    EXPECT_EQ(bounds.knownFolderPath(1, "/d/"), "/d");
    EXPECT_TRUE(bounds.enterFolder(1, "/d/"));
    bounds.recordChild(1, 2, "sub", true);
    bounds.recordChild(1, 3, "link", false);
    EXPECT_EQ(bounds.knownFolderPath(2, "/d//sub/"), "/d/sub");
    EXPECT_EQ(bounds.knownFolderPath(3, "/d/link"), std::nullopt); // only the server can tell
    EXPECT_FALSE(bounds.enterFolder(3, "/d")); // the link leads back to the root's folder
    EXPECT_TRUE(bounds.enterFolder(2, "/d/sub"));
    EXPECT_TRUE(bounds.enterFolder(2, "/d/sub")); // the same item again: a retry
    // Another queued tree fetches the same folder on its own.
    EXPECT_TRUE(bounds.enterFolder(10, "/d"));
}

TEST(RemoteTreeBounds, ChildrenStopAtTheDepthBound)
{
    RemoteTreeBounds bounds(2);
    EXPECT_TRUE(bounds.admitsChildOf(1));
    bounds.recordChild(1, 2, "a", true);
    EXPECT_TRUE(bounds.admitsChildOf(2));
    bounds.recordChild(2, 3, "b", true);
    EXPECT_FALSE(bounds.admitsChildOf(3));
    EXPECT_EQ(RemoteTreeBounds().maxFolderDepth(), 32);
}

} // namespace
} // namespace bw::engine
