// SPDX-License-Identifier: MIT
// The HTTP client against servers that frame their bodies in every way the protocol allows and in
// ways it forbids, and against a TLS server that cuts the connection without close_notify.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/http_connection.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/tls_http_responder.h"

namespace bw::net {
namespace {

using test::ScriptedServer;

constexpr const char *kOldBytes = "old part";

struct Outcome
{
    bool ok;
    std::string file; // the local file afterwards
};

class HttpFramingScriptedTest : public ::testing::Test
{
protected:
    // Downloads into a file that held kOldBytes, from a server that sends `response` and closes.
    Outcome fetch(const std::string &response)
    {
        ScriptedServer server;
        server.add(ScriptedServer::Step::ExpectHeader).sendRaw(response).drop();
        server.start();
        const auto path = m_dir / "f.bin";
        test::writeFile(path, kOldBytes);
        EXPECT_TRUE(m_http.connect("127.0.0.1", server.port(), "", "", 7));
        const bool ok = m_http.download(path.string(), "/f.bin");
        EXPECT_TRUE(server.waitFinished());
        return {ok, test::readFile(path)};
    }

    test::TempDir m_dir;
    HttpConnection m_http;
};

TEST_F(HttpFramingScriptedTest, FramesTheBodyAsTheHeaderSays)
{
    const std::string old = kOldBytes;

    struct Case
    {
        const char *name;
        std::string response;
        Outcome expected;
    };

    const Case cases[] = {
        {"interim responses are skipped",
            "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n"
            "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef",
            {true, "abc"}},
        {"chunked wins over Content-Length",
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
            {true, "abc"}},
        {"a final coding other than chunked runs to the close",
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: gzip\r\n\r\nabcdef",
            {true, "abcdef"}},
        {"lengths that differ", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
            {false, old}},
        {"an unreadable length", "HTTP/1.1 200 OK\r\nContent-Length: 3x\r\n\r\nabcd", {false, old}},
        {"Transfer-Encoding in HTTP/1.0",
            "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", {false, old}},
        {"204 sends nothing to keep", "HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\nabc",
            {false, old}},
        {"chunked without its last chunk",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", {false, "abc"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome got = fetch(c.response);
        EXPECT_EQ(got.ok, c.expected.ok);
        EXPECT_EQ(got.file, c.expected.file);
        EXPECT_EQ(m_http.error().detail(), "");
    }
}

TEST_F(HttpFramingScriptedTest, AnEndlessRunOfInterimResponsesFails)
{
    std::string flood;
    while (flood.size() < 2 * HttpHeaderParser::kMaxHeaderBytes)
        flood += "HTTP/1.1 100 Continue\r\n\r\n";
    EXPECT_EQ(fetch(flood).ok, false);
    EXPECT_TRUE(m_http.error().is(CatProtocol, UnexpectedResponse));
}

TEST_F(HttpFramingScriptedTest, ATlsBodyToTheCloseNeedsCloseNotify)
{
    const test::TestCa ca;
    const test::CertifiedKey identity = ca.issue("IP:127.0.0.1");

    struct Case
    {
        const char *name;
        std::string response;
        bool closeNotify;
        bool ok;
    };

    const Case cases[] = {
        {"to the close with close_notify", "HTTP/1.1 200 OK\r\n\r\nabc", true, true},
        {"to the close, cut", "HTTP/1.1 200 OK\r\n\r\nabc", false, false},
        {"a length met, cut", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", false, true},
        {"a last chunk met, cut",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", false, true},
    };
    std::vector<test::TlsHttpResponder::Response> responses;
    for (const Case &c : cases)
        responses.push_back({c.response, c.closeNotify});
    test::TlsHttpResponder server(identity, responses);
    TlsOptions options;
    options.insecure = true;
    m_http.setTls(options);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = m_dir / "tls.bin";
        std::filesystem::remove(path);
        ASSERT_TRUE(m_http.connect("127.0.0.1", server.port(), "", "", 7)) << m_http.error().detail();
        EXPECT_EQ(m_http.download(path.string(), "/tls.bin"), c.ok);
        EXPECT_EQ(test::readFile(path), "abc"); // a cut part stays for the next resume
        if (!c.ok) {
            EXPECT_TRUE(m_http.error().is(CatLocal, SocketReadError));
        }
    }
    EXPECT_EQ(server.requests().size(), std::size(cases));
}

} // namespace
} // namespace bw::net
