// SPDX-License-Identifier: MIT
// What bellwick-cli takes out of the queue as it runs: finished items, once reported.
#include <algorithm>

#include <gtest/gtest.h>

#include "app/cli/saved_files.h"
#include "core/queue_list.h"

namespace bw::cli {
namespace {

TEST(SavedFilesTest, FinishedItemsLeaveTheQueueOnceReported)
{
    core::QueueList queue;
    const std::int32_t reported = queue.addItem("ftp://h/a", "/nonexistent/a");
    const std::int32_t failed = queue.addItem("ftp://h/b", "/nonexistent/b");
    const std::int32_t waiting = queue.addItem("ftp://h/c", "/nonexistent/c");
    const std::int32_t late = queue.addItem("ftp://h/d", "/nonexistent/d");
    queue.finishItem(reported, core::ItemStatus::StatusFinished);
    queue.finishItem(failed, core::ItemStatus::StatusError);
    SavedFiles saved;
    saved.takeFinished(queue);
    // Finished after the last report: it stays until a report has seen it.
    queue.finishItem(late, core::ItemStatus::StatusFinished);
    saved.dropReported(queue);
    EXPECT_FALSE(queue.contains(reported));
    for (const std::int32_t id : {failed, waiting, late})
        EXPECT_TRUE(queue.contains(id)) << id;

    saved.takeFinished(queue);
    saved.dropReported(queue);
    EXPECT_FALSE(queue.contains(late));
    EXPECT_EQ(queue.count(), 2u);
}

TEST(SavedFilesTest, TheLineGivesSizeAndAPlausibleAverageSpeed)
{
    const std::pair<SavedFile, std::string> cases[] = {
        {{"/d/a", 1'000'000, 2.0}, "/d/a  1,000,000 B  500 kB/s"},
        // Shorter than the runner can measure: not "3,000,000 kB/s".
        {{"/d/b", 3'000'000, 0.001}, "/d/b  3,000,000 B  30,000 kB/s"},
        {{"/d/c", 0, 0.0}, "/d/c  0 B  0 kB/s"},
    };
    for (const auto &[file, line] : cases)
        EXPECT_EQ(savedFileLine(file), line) << file.path;
}

} // namespace
} // namespace bw::cli
