// SPDX-License-Identifier: MIT
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <signal.h>

#include "cli_fixture.h"
#include "core/queue_list.h"
#include "engine/queue_file.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "support/wait_until.h"

namespace bw::test {
namespace {

// A runner killed outright in the middle of a download in segments leaves the part file with holes and
// the queue file with the ranges still missing; the next run fills exactly those.
TEST_F(CliTest, AKilledSegmentedDownloadResumesEverySegmentAndEndsByteIdentical)
{
    const HttpServer server = httpServer();
    ASSERT_NE(server.port, 0) << "the nginx test server is needed";
    const fs::path folder = fs::path(server.root) / ("seg-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string body = patternBytes(40 * 1024 * 1024 + 77, 9);
    writeFile(folder / "k.bin", body);
    // At 4 MB/s per connection the download takes seconds: time enough to kill it in the middle.
    const std::string url = "http://" + server.host + ":" + std::to_string(server.port) + "/limited/"
        + folder.filename().string() + "/k.bin";
    const std::vector<std::string> args{"--queue", "q.ftp", "--per-site", "4", "--segments", "4", url};

    const pid_t pid = spawn(args);
    const auto savedState = [&] {
        core::QueueList saved;
        engine::loadQueueFile(dir / "work/q.ftp", saved);
        return saved.count() == 1 && !saved.snapshot().front().segmentState.empty();
    };
    EXPECT_TRUE(
        waitUntil([&] { return savedState() && fs::file_size(dir / "work/k.bin.part") > 16 * 1024 * 1024; },
            std::chrono::seconds(30)));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(finish(pid).exitCode, 128 + SIGKILL);

    const CliRun resumed = run({"--queue", "q.ftp", "--per-site", "4", "--segments", "4"});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_TRUE(readFile(dir / "work/k.bin") == body);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

TEST_F(CliTest, SegmentsNeedsAPositiveNumber)
{
    const CliRun result = run({"--segments", "0", "http://127.0.0.1:1/a"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("--segments needs 1 or more, not \"0\""), std::string::npos) << result.err;
}

} // namespace
} // namespace bw::test
