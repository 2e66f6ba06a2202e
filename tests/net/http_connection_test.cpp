// SPDX-License-Identifier: MIT
// The HTTP client against the loopback nginx that scripts/test starts (BW_TEST_HTTP_*): whole files,
// resume, a server that ignores ranges, redirects and refusals.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "net/http_connection.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::net {
namespace {

class HttpConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server = test::httpServer();
        ASSERT_FALSE(m_server.root.empty());
        ASSERT_GT(m_server.port, 0);
        // A folder of our own on the server, so tests may run side by side.
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = "http-" + std::to_string(::getpid()) + "-" + info->name();
        std::filesystem::create_directories(std::filesystem::path(m_server.root) / m_folder);
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(m_server.root) / m_folder, ignored);
    }

    // Puts a file on the server; returns its request path.
    std::string serve(const std::string &name, const std::string &bytes)
    {
        test::writeFile(std::filesystem::path(m_server.root) / m_folder / name, bytes);
        return "/" + m_folder + "/" + name;
    }

    bool fetch(const std::string &requestPath, const std::string &localName)
    {
        if (!m_http.connect(m_server.host, m_server.port, "", "", 11)) {
            ADD_FAILURE() << "cannot connect to nginx at port " << m_server.port;
            return false;
        }
        return m_http.download((m_dir / localName).string(), requestPath);
    }

    test::HttpServer m_server;
    std::string m_folder;
    test::TempDir m_dir;
    HttpConnection m_http;
};

TEST_F(HttpConnectionTest, DownloadsAWholeFile)
{
    const std::string content = test::patternBytes(3 * 1024 * 1024 + 17);
    const std::string path = serve("whole.bin", content);
    ASSERT_TRUE(fetch(path, "whole.bin"));
    EXPECT_EQ(test::readFile(m_dir / "whole.bin"), content);
    EXPECT_EQ(m_http.totalSize(), static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(m_http.bytesDone(), static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(m_http.error().status(), 200);
    EXPECT_EQ(m_http.httpState(), HttpState::Idle);
}

TEST_F(HttpConnectionTest, ResumesWithARangeAndAppends)
{
    const std::string content = test::patternBytes(500'000, 3);
    const std::string path = serve("resume.bin", content);
    // The local part differs from the server's first bytes: only an append keeps it.
    const std::string localPart(123'456, 'L');
    test::writeFile(m_dir / "resume.bin", localPart);
    ASSERT_TRUE(fetch(path, "resume.bin"));
    EXPECT_EQ(m_http.error().status(), 206);
    // The total is the whole file, like the bytes done, which count the local part.
    EXPECT_EQ(m_http.totalSize(), static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(m_http.bytesDone(), static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(test::readFile(m_dir / "resume.bin"), localPart + content.substr(localPart.size()));
}

TEST_F(HttpConnectionTest, RewritesTheFileWhenTheServerIgnoresTheRange)
{
    const std::string content = test::patternBytes(200'000, 4);
    serve("norange.bin", content);
    test::writeFile(m_dir / "norange.bin", std::string(5000, 'x'));
    ASSERT_TRUE(fetch("/norange/" + m_folder + "/norange.bin", "norange.bin"));
    EXPECT_EQ(m_http.error().status(), 200);
    EXPECT_EQ(test::readFile(m_dir / "norange.bin"), content);
}

TEST_F(HttpConnectionTest, DownloadsTwoFilesOneAfterTheOther)
{
    const std::string first = test::patternBytes(70'000, 5);
    const std::string second = test::patternBytes(90'000, 6);
    const std::string firstPath = serve("one.bin", first);
    const std::string secondPath = serve("two.bin", second);
    ASSERT_TRUE(fetch(firstPath, "one.bin"));
    ASSERT_TRUE(fetch(secondPath, "two.bin"));
    EXPECT_EQ(test::readFile(m_dir / "one.bin"), first);
    EXPECT_EQ(test::readFile(m_dir / "two.bin"), second);
}

TEST_F(HttpConnectionTest, RedirectsAndRefusalsBecomeProtocolErrors)
{
    const std::string target = "http://127.0.0.1:" + std::to_string(m_server.port) + "/files/a.bin";

    struct Case
    {
        std::string path;
        std::int32_t code;
        int status;
        std::string detail;
    };

    const Case cases[] = {
        {"/redirect301", UrlRedirected, 301, target},
        {"/redirect302", UrlRedirected, 302, target},
        {"/redirect-relative", UrlRedirected, 302, "/files/a.bin"},
        {"/forbidden", UnexpectedResponse, 403, ""},
        {"/" + m_folder + "/absent.bin", PermissionDenied, 404, ""},
        {"/unavailable", UnexpectedResponse, 503, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_FALSE(fetch(c.path, "refused.bin"));
        const ErrorCode record = m_http.error();
        EXPECT_TRUE(record.is(CatProtocol, c.code)) << record.code();
        EXPECT_EQ(record.status(), c.status);
        EXPECT_EQ(record.detail(), c.detail);
        EXPECT_FALSE(std::filesystem::exists(m_dir / "refused.bin"));
    }
}

TEST_F(HttpConnectionTest, FollowsNothingItself)
{
    // The redirect target is the caller's business; the client asks exactly once.
    EXPECT_FALSE(fetch("/loop", "loop.bin"));
    EXPECT_TRUE(m_http.error().is(CatProtocol, UrlRedirected));
    EXPECT_EQ(m_http.error().detail(), "http://127.0.0.1:" + std::to_string(m_server.port) + "/loop");
}

} // namespace
} // namespace bw::net
