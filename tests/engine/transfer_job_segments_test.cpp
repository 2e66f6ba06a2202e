// SPDX-License-Identifier: MIT
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "engine/queue_file.h"
#include "engine/segment_state.h"
#include "remote_folder_fixture.h"
#include "support/ranged_http_server.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;
// Megabytes through a sanitized build take their time.
constexpr std::chrono::seconds kSanitizedLimit{180};

class SegmentedDownloadTest : public RemoteFolderTest
{
protected:
    SegmentedDownloadTest() { setQueueDefault(queue, &core::QueueDefaults::perSiteLimit, 4); }

    // The log line that tells on how many connections the file came; 0 when none did.
    int connectionsUsed() const
    {
        for (const std::string &line : notifier.lines()) {
            int count = 0;
            if (std::sscanf(line.c_str(), "Downloaded on %d connections.", &count) == 1)
                return count;
        }
        return 0;
    }
};

TEST_F(SegmentedDownloadTest, ABigFileFromNginxArrivesWholeOverSeveralConnections)
{
    const HttpServer server = httpServer();
    ASSERT_NE(server.port, 0) << "the nginx test server is needed";
    useRemoteFolder(server.root, nameForThisTest("seg"));
    const std::string body = patternBytes(12 * kMiB + 12345, 7);
    putRemote("big.bin", body);
    const auto id =
        queue.addItem("http://" + server.host + ":" + std::to_string(server.port) + remote("big.bin"),
            (local / "big.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished, kSanitizedLimit));
    EXPECT_TRUE(readFile(local / "big.bin") == body);
    EXPECT_GE(connectionsUsed(), 2);
    EXPECT_EQ(core::snapshotOrVanished(queue, id).bytesDone, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(core::snapshotOrVanished(queue, id).segmentState, "");
}

// A run killed before it saved the state of its segments leaves a part file with holes and no state:
// the download resumes from before the first hole, never from the file's length.
TEST_F(SegmentedDownloadTest, APartFileWithAGapAndNoStateResumesFromBeforeTheGap)
{
    const HttpServer server = httpServer();
    ASSERT_NE(server.port, 0) << "the nginx test server is needed";
    useRemoteFolder(server.root, nameForThisTest("gap"));
    const std::string body = patternBytes(4 * kMiB, 5);
    putRemote("g.bin", body);
    writeFile(local / "g.bin.part", body.substr(0, 100000));
    std::filesystem::resize_file(local / "g.bin.part", 3 * kMiB);
    {
        std::ofstream tail(local / "g.bin.part", std::ios::binary | std::ios::in | std::ios::out);
        tail.seekp(3 * kMiB - 4096);
        tail << body.substr(3 * kMiB - 4096, 4096);
    }
    const auto id =
        queue.addItem("http://" + server.host + ":" + std::to_string(server.port) + remote("g.bin"),
            (local / "g.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished, kSanitizedLimit));
    EXPECT_TRUE(readFile(local / "g.bin") == body);
}

TEST_F(SegmentedDownloadTest, AFileThatChangesOnTheServerStartsOverAndIsNeverStitched)
{
    const std::string first = patternBytes(9 * kMiB, 1);
    const std::string second = patternBytes(9 * kMiB, 2);
    RangedHttpServer server(first, "\"one\"");
    // The probe reads the first version; the segments that follow find the second.
    server.replaceAtFirstIfRange(second, "\"two\"");
    const auto id = queue.addItem(
        "http://127.0.0.1:" + std::to_string(server.port()) + "/f.bin", (local / "f.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished, kSanitizedLimit));
    EXPECT_TRUE(readFile(local / "f.bin") == second);
    EXPECT_TRUE(notifier.sawLine("The file changed on the server; the download starts over."));
}

TEST_F(SegmentedDownloadTest, ASavedStateResumesEveryMissingRangeAndNothingElse)
{
    const std::string body = patternBytes(10 * kMiB, 3);
    RangedHttpServer server(body, "\"v\"");
    // What a killed run left: the ranges it had not written hold other bytes (or none) on disk.
    const std::vector<engine::ByteRange> missing{
        {1000, 3 * kMiB}, {5 * kMiB, 5 * kMiB + 5}, {9 * kMiB + 7, 10 * kMiB}};
    std::string part = body;
    for (const engine::ByteRange &range : missing)
        part.replace(static_cast<std::size_t>(range.first), static_cast<std::size_t>(range.size()),
            static_cast<std::size_t>(range.size()), 'x');
    part.resize(9 * kMiB + 7);
    writeFile(local / "r.bin.part", part);
    const auto id = queue.addItem(
        "http://127.0.0.1:" + std::to_string(server.port()) + "/r.bin", (local / "r.bin").string());
    queue.setSegmentState(id, engine::encodeSegmentState({"\"v\"", 10 * kMiB, missing}));
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished, kSanitizedLimit));
    EXPECT_TRUE(readFile(local / "r.bin") == body);
    EXPECT_LE(server.requests(), 6); // the three ranges (split at most once more each), no whole file
}

} // namespace
} // namespace bw::test
