// SPDX-License-Identifier: MIT
// HTTP transfer jobs against a scripted server: exact responses for folder URLs and stalled bodies.
#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace bw::test {
namespace {

using Step = ScriptedServer::Step;

class HttpScriptedJobTest : public EngineTest
{
protected:
    std::string url(const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(server.port()) + path;
    }

    ScriptedServer server;
    TempDir local;
};

TEST_F(HttpScriptedJobTest, AFolderUrlAndARedirectFromItWriteNamedFilesInTheFolder)
{
    server.add(Step::ExpectHeader).sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nindex");
    server.add(Step::Accept)
        .add(Step::ExpectHeader)
        .sendRaw("HTTP/1.1 302 Found\r\nLocation: /other/f.txt\r\nContent-Length: 0\r\n\r\n");
    server.add(Step::Accept)
        .add(Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfile");
    server.start();

    const std::string folder = (local / "dir").string() + "/";
    const auto index = queue.addItem(url("/dir/"), folder);
    start();
    ASSERT_TRUE(waitStatus(index, core::ItemStatus::StatusFinished));
    EXPECT_EQ(readFile(local / "dir/index.html"), "index");
    const auto moved = queue.addItem(url("/moved/"), (local / "moved").string() + "/");
    ASSERT_TRUE(waitStatus(moved, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitAllSettled());
    ASSERT_TRUE(server.waitFinished());
    EXPECT_TRUE(server.failures().empty()) << ::testing::PrintToString(server.failures());
    EXPECT_EQ(readFile(local / "moved/f.txt"), "file");
}

// A server that stops sending without closing: the item's time-out ends the item, the part stays.
TEST_F(HttpScriptedJobTest, AStalledResponseEndsTransferFailedAfterTheTimeout)
{
    const struct
    {
        const char *name;
        std::string sent; // what the server sends before it falls silent
        std::string partial; // what the partial file holds afterwards
    } cases[] = {
        {"stalled body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", "abc"},
        {"stalled header", "HTTP/1.1 200 OK\r\nContent-Len", ""},
    };

    bool started = false;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer caseServer;
        caseServer.add(Step::ExpectHeader).sendRaw(c.sent).hold();
        caseServer.start();
        const auto file = local / (std::string(c.name) + ".bin");
        const auto id = queue.addItem("http://127.0.0.1:" + std::to_string(caseServer.port()) + "/f.bin",
            file.string(), 0, 3600, -1, 1);
        if (!std::exchange(started, true))
            start();
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusTransferFailed, std::chrono::seconds(20)));
        caseServer.release();
        const std::filesystem::path part = file.string() + ".part";
        EXPECT_EQ(std::filesystem::exists(part) ? readFile(part) : std::string(), c.partial);
        EXPECT_FALSE(std::filesystem::exists(file));
    }
}

} // namespace
} // namespace bw::test
