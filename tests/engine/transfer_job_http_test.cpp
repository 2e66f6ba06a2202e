// SPDX-License-Identifier: MIT
#include <filesystem>

#include <gtest/gtest.h>

#include "core/url.h"
#include "engine/transfer_job.h"
#include "remote_folder_fixture.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::test {
namespace {

class HttpJobTest : public RemoteFolderTest
{
protected:
    void SetUp() override
    {
        server = httpServer();
        ASSERT_NE(server.port, 0) << "the nginx test server is needed";
        useRemoteFolder(server.root, nameForThisTest("h4"));
    }

    std::string url(const std::string &path) const
    {
        return "http://" + server.host + ":" + std::to_string(server.port) + path;
    }

    HttpServer server;
};

TEST_F(HttpJobTest, DownloadsAFileAndFinishes)
{
    const std::string body = patternBytes(200000, 3);
    putRemote("f.bin", body);
    const auto id = queue.addItem(url(remote("f.bin")), (local / "sub/f.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    EXPECT_EQ(readFile(local / "sub/f.bin"), body);
    // The item keeps the final count, also when the body arrived within one progress tick.
    EXPECT_EQ(core::snapshotOrVanished(queue, id).bytesDone, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(core::snapshotOrVanished(queue, id).totalSize, static_cast<std::int64_t>(body.size()));
    EXPECT_TRUE(notifier.sawLine("Creating socket..."));
    EXPECT_TRUE(notifier.sawLine("Connecting..."));
    EXPECT_TRUE(notifier.sawLine("Receiving f.bin at " + (local / "sub/f.bin").string() + "..."));
    EXPECT_TRUE(notifier.sawLine("File retrieved."));
    EXPECT_TRUE(notifier.sawLine("Disconnecting..."));
}

TEST_F(HttpJobTest, ResumesWithARangeAndOverwritesWhenTheServerIgnoresIt)
{
    const std::string body = patternBytes(150000, 5);
    putRemote("r.bin", body);
    // A partial file of the right first half: 206 appends the rest.
    writeFile(local / "resume.bin.part", body.substr(0, 60000));
    // A partial file of wrong bytes, fetched where ranges are ignored: 200 rewrites it from the start.
    writeFile(local / "over.bin.part", std::string(60000, 'x'));
    const auto resumed = queue.addItem(url(remote("r.bin")), (local / "resume.bin").string());
    const auto rewritten = queue.addItem(url("/norange" + remote("r.bin")), (local / "over.bin").string());
    start();
    ASSERT_TRUE(waitStatus(resumed, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitStatus(rewritten, core::ItemStatus::StatusFinished));
    EXPECT_EQ(readFile(local / "resume.bin"), body);
    EXPECT_EQ(readFile(local / "over.bin"), body);
    EXPECT_FALSE(std::filesystem::exists(local / "resume.bin.part"));
    EXPECT_FALSE(std::filesystem::exists(local / "over.bin.part"));
}

TEST_F(HttpJobTest, ACompletePartialFileFinishesAndALongerOneFailsUntouched)
{
    const std::string body = patternBytes(5000, 6);
    putRemote("c.bin", body);
    const std::string longer = body + "tail";
    writeFile(local / "complete.bin.part", body);
    writeFile(local / "longer.bin.part", longer);
    // A long rest keeps the failed item from being tried again while the test looks at it.
    const auto complete = queue.addItem(url(remote("c.bin")), (local / "complete.bin").string());
    const auto tooLong = queue.addItem(url(remote("c.bin")), (local / "longer.bin").string(), 0, 3600);
    start();
    ASSERT_TRUE(waitStatus(complete, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitStatus(tooLong, core::ItemStatus::StatusTransferFailed));
    EXPECT_EQ(readFile(local / "complete.bin"), body);
    EXPECT_EQ(readFile(local / "longer.bin.part"), longer);
    EXPECT_FALSE(std::filesystem::exists(local / "longer.bin"));
}

TEST_F(HttpJobTest, FollowsAbsoluteAndRelativeRedirects)
{
    const std::string body = readFile(std::filesystem::path(server.root) / "files/a.bin");
    ASSERT_EQ(body.size(), 100000u);

    const struct
    {
        const char *path;
        const char *file;
    } cases[] = {
        {"/redirect301", "absolute.bin"},
        {"/redirect-relative", "relative.bin"},
        {"/files/redirect-bare", "bare.bin"},
    };

    std::vector<std::int32_t> ids;
    for (const auto &c : cases)
        ids.push_back(queue.addItem(url(c.path), (local / c.file).string()));
    start();
    ASSERT_TRUE(waitAllSettled());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(core::snapshotOrVanished(queue, ids[i]).status, core::ItemStatus::StatusFinished)
            << cases[i].path;
        EXPECT_EQ(readFile(local / cases[i].file), body) << cases[i].path;
    }
    const auto targets = idsEndingWith("/files/a.bin");
    ASSERT_EQ(targets.size(), 3u);
    for (const auto id : targets) {
        EXPECT_EQ(core::snapshotOrVanished(queue, id).url, url("/files/a.bin"));
        EXPECT_EQ(core::snapshotOrVanished(queue, id).status, core::ItemStatus::StatusFinished);
    }
}

TEST_F(HttpJobTest, ARedirectLoopEndsTransferFailedAfterTwentyHops)
{
    const auto id = queue.addItem(url("/loop-a"), (local / "loop.bin").string());
    queue.setTryLimit(1); // the refused hop is not retried while the statuses are read
    start();
    ASSERT_TRUE(waitAllSettled());
    (void)id;
    // The first item and 20 redirects finish; the 21st redirect is refused.
    int finished = 0;
    int failed = 0;
    for (const auto itemId : queue.ids()) {
        const core::ItemStatus s = core::snapshotOrVanished(queue, itemId).status;
        finished += s == core::ItemStatus::StatusFinished;
        failed += s == core::ItemStatus::StatusTransferFailed;
    }
    EXPECT_EQ(finished, 20);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(queue.count(), 21u);
}

TEST_F(HttpJobTest, ARedirectChainIsFollowedWithinTheJobDespiteTheSitesRest)
{
    // A rested site never opens again during the test: every hop must be followed by the same job.
    const auto id = queue.addItem(url("/loop-a"), (local / "loop.bin").string(), 0, 3600);
    start();
    ASSERT_TRUE(waitUntil(
        [this] {
            const auto ids = queue.ids();
            return ids.size() == 21u
                && core::snapshotOrVanished(queue, ids.back()).status
                == core::ItemStatus::StatusTransferFailed;
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(core::snapshotOrVanished(queue, id).status, core::ItemStatus::StatusFinished);
    EXPECT_EQ(queue.count(), 21u);
}

TEST_F(HttpJobTest, HttpErrorsEndTheItemAMissingFileForGood)
{
    const auto missing = queue.addItem(url(remote("absent.bin")), (local / "absent.bin").string());
    const auto forbidden = queue.addItem(url("/forbidden"), (local / "forbidden.bin").string());
    // One try each: sites here rest no time, so a retry could otherwise be running when the statuses are
    // read.
    queue.setTryLimit(1);
    start();
    ASSERT_TRUE(waitAllSettled());
    EXPECT_EQ(core::snapshotOrVanished(queue, missing).status, core::ItemStatus::StatusError);
    EXPECT_TRUE(core::snapshotOrVanished(queue, missing).endedForGood);
    EXPECT_EQ(core::snapshotOrVanished(queue, forbidden).status, core::ItemStatus::StatusTransferFailed);
    EXPECT_FALSE(core::snapshotOrVanished(queue, forbidden).endedForGood);
    // The statuses stay; the log line and the tooltip say what the server answered.
    EXPECT_TRUE(notifier.sawLine("Permission denied (404 Not Found)"));
    EXPECT_TRUE(notifier.sawLine("Unexpected response code (403 Forbidden)"));
    EXPECT_EQ(core::statusTextWithDetail(core::snapshotOrVanished(queue, missing)), "Error (404 Not Found)");
    EXPECT_EQ(core::statusTextWithDetail(core::snapshotOrVanished(queue, forbidden)),
        "Transfer failed (403 Forbidden)");
}

TEST(RedirectTest, ResolvesTheLocationAgainstTheRequest)
{
    core::Url request;
    core::parseUrl("http://h:8080/dir/page", request);
    core::Url plain;
    core::parseUrl("http://h/dir/", plain);
    core::Url literal;
    core::parseUrl("http://[::1]:8181/dir/page", literal);

    const struct
    {
        const core::Url &request;
        const char *location;
        const char *expected;
    } cases[] = {
        {request, "http://other/x", "http://other/x"},
        {request, "https://other/x", "https://other/x"},
        {request, "/file", "http://h:8080/file"},
        {request, "file", "http://h:8080/dir/file"},
        {request, "//cdn/x", "http://cdn/x"},
        {plain, "/f", "http://h/f"},
        {plain, "sub/f", "http://h/dir/sub/f"},
        // An IPv6 host keeps its brackets, or the rebuilt URL would not parse.
        {literal, "/f", "http://[::1]:8181/f"},
        {literal, "g", "http://[::1]:8181/dir/g"},
    };

    for (const auto &c : cases)
        EXPECT_EQ(engine::resolveRedirect(c.request, c.location), c.expected) << c.location;
}

// What a hostile or careless Location turns into, as the new item reads it: each escape decoded once,
// and no character of the path taken for a separator of the URL.
TEST(RedirectTest, ResolvesOnParsedPartsAndDecodesOnce)
{
    core::Url page;
    core::parseUrl("http://www.example.com/img/page.html", page);
    core::Url escaped;
    core::parseUrl("http://h/a%2525b/c", escaped); // the folder is named "a%25b"

    const struct
    {
        const core::Url &request;
        const char *location;
        const char *host;
        const char *name; // path and file name as the new item holds them
    } cases[] = {
        {page, "logo@2x.png", "www.example.com", "/img/logo@2x.png"},
        {page, "%2525", "www.example.com", "/img/%25"},
        {page, "a%5Cb", "www.example.com", "/img/a\\b"},
        {page, "a\\b", "www.example.com", "/img/a\\b"},
        {page, "../x?u=http://evil.example/y", "www.example.com", "/x?u=http://evil.example/y"},
        {page, "?q", "www.example.com", "/img/page.html?q"},
        {page, "#top", "www.example.com", "/img/page.html"},
        {page, "//cdn.example/f", "cdn.example", "/f"},
        {page, "HTTPS://other.example/../f", "other.example", "/f"},
        {escaped, "d", "h", "/a%25b/d"},
    };

    for (const auto &c : cases) {
        core::Url target;
        ASSERT_TRUE(core::parseUrl(engine::resolveRedirect(c.request, c.location), target)) << c.location;
        EXPECT_EQ(target.host, c.host) << c.location;
        EXPECT_EQ(target.path + target.fileName, c.name) << c.location;
        EXPECT_EQ(target.user, core::kAnonymousUser) << c.location;
    }
}

} // namespace
} // namespace bw::test
