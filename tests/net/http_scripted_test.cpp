// SPDX-License-Identifier: MIT
// The HTTP client against a scripted server that answers with exact bytes: split headers, odd header
// spellings, short bodies, overlong headers, and the status mapping.
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/diagnostic_log.h"
#include "net/http_connection.h"
#include "platform/clock.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace bw::net {
namespace {

using test::ScriptedServer;

// Every request names the program and the version the build was made from.
const std::string kUserAgent = "User-Agent: Bellwick/" BW_TEST_VERSION "\r\n";
// And asks for the file's digest.
const std::string kWantDigest = "Want-Repr-Digest: sha-256=10, sha-512=5\r\n";

class HttpScriptedTest : public ::testing::Test
{
protected:
    bool connectTo(const ScriptedServer &server)
    {
        return m_http.connect("127.0.0.1", server.port(), "user", "secret", 7);
    }

    // Runs the download on another thread, so the test can steer the server while it runs.
    std::future<bool> startDownload(const std::string &name, const std::string &path = "/file.bin")
    {
        return std::async(
            std::launch::async, [this, name, path] { return m_http.download(local(name), path); });
    }

    // Waits (bounded) for the download to end, then lets the server's last hold go; false when the
    // download did not end.
    static bool endsThenReleases(std::future<bool> &done, ScriptedServer &server)
    {
        const bool ended = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        server.release();
        return ended;
    }

    std::string local(const std::string &name) const { return (m_dir / name).string(); }

    test::TempDir m_dir;
    HttpConnection m_http;
};

TEST_F(HttpScriptedTest, SendsTheExactRequestWithoutRangeForAMissingOrEmptyFile)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc")
        .add(ScriptedServer::Step::Accept)
        .add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nxyz");
    server.start();

    test::writeFile(m_dir / "empty.bin", "");
    ASSERT_TRUE(connectTo(server));
    EXPECT_TRUE(m_http.download(local("missing.bin"), "/dir/missing.bin"));
    ASSERT_TRUE(connectTo(server));
    EXPECT_TRUE(m_http.download(local("empty.bin"), "/a%20b.bin"));
    ASSERT_TRUE(server.waitFinished());
    EXPECT_EQ(server.failures(), std::vector<std::string>{});
    const auto received = server.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0],
        "GET /dir/missing.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kUserAgent + kWantDigest + "\r\n");
    EXPECT_EQ(
        received[1], "GET /a%20b.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kUserAgent + kWantDigest + "\r\n");
    EXPECT_EQ(test::readFile(m_dir / "missing.bin"), "abc");
    EXPECT_EQ(test::readFile(m_dir / "empty.bin"), "xyz");
}

TEST_F(HttpScriptedTest, RequestLinesCarryAnOpenRangeForALocalFile)
{
    const auto lines = HttpConnection::requestLines("/p/f.zip", "files.example", 1234);
    const std::vector<std::string> expected{"GET /p/f.zip HTTP/1.1\r\n", "Host: files.example\r\n",
        kUserAgent, "Range: bytes=1234-\r\n", kWantDigest, "\r\n"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(HttpConnection::requestLines("/x", "h", 5'000'000'000LL)[3], "Range: bytes=5000000000-\r\n");
    EXPECT_EQ(HttpConnection::requestLines("/x", "h", 0).size(), 5u);
}

TEST_F(HttpScriptedTest, ParsesAHeaderSplitInTheMiddleOfALine)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nLocation: /first\r\nContent-Length: 10\r\nX-Split: fir")
        .hold()
        .sendRaw("st half\r\n\r\n0123456789");
    server.start();
    ASSERT_TRUE(connectTo(server));
    auto done = startDownload("split.bin");
    // The first piece has been parsed once its Location is known; only then the rest comes.
    EXPECT_TRUE(test::waitUntil([&] { return m_http.error().detail() == "/first"; }));
    server.release();
    EXPECT_TRUE(done.get());
    EXPECT_EQ(test::readFile(m_dir / "split.bin"), "0123456789");
    EXPECT_FALSE(m_http.error().isSet());
}

TEST_F(HttpScriptedTest, LowerCaseLocationIsTheRedirectTarget)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 301 Moved Permanently\r\nlocation:  http://mirror.example/new.bin\r\n"
                 "Content-Length: 0\r\n\r\n");
    server.start();
    ASSERT_TRUE(connectTo(server));
    EXPECT_FALSE(m_http.download(local("moved.bin"), "/old.bin"));
    const ErrorCode record = m_http.error();
    EXPECT_TRUE(record.is(CatProtocol, UrlRedirected));
    EXPECT_EQ(record.status(), 301);
    EXPECT_EQ(record.detail(), "http://mirror.example/new.bin");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "moved.bin"));
}

TEST_F(HttpScriptedTest, MapsStatusesToProtocolErrors)
{
    struct Case
    {
        const char *response;
        std::int32_t code;
    };

    const Case cases[] = {
        {"HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\n\r\n", UrlRedirected},
        {"HTTP/1.1 303 See Other\r\nLocation: /elsewhere\r\n\r\n", UrlRedirected},
        {"HTTP/1.1 302 Found\r\n\r\n", UnexpectedResponse}, // a redirect without a target
        {"HTTP/1.1 304 Not Modified\r\n\r\n", UnexpectedResponse},
        {"HTTP/1.1 403 Forbidden\r\n\r\n", UnexpectedResponse},
        {"HTTP/1.1 404 Not Found\r\n\r\n", PermissionDenied},
        {"HTTP/1.1 410 Gone\r\n\r\n", PermissionDenied},
        {"HTTP/1.1 503 Service Unavailable\r\n\r\n", UnexpectedResponse},
        {"HTTP/1.1 204 No Content\r\n\r\n", UnexpectedResponse}, // 2xx, but no file
        {"garbage without a status line\r\n\r\n", UnexpectedResponse},
    };
    ScriptedServer server;
    for (const auto &c : cases) {
        if (&c != &cases[0])
            server.add(ScriptedServer::Step::Accept);
        server.add(ScriptedServer::Step::ExpectHeader).sendRaw(c.response).drop();
    }
    server.start();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.response);
        ASSERT_TRUE(connectTo(server));
        EXPECT_FALSE(m_http.download(local("status.bin"), "/status"));
        const ErrorCode record = m_http.error();
        EXPECT_EQ(record.category(), CatProtocol);
        EXPECT_EQ(record.code(), c.code);
        if (c.code != UrlRedirected) {
            EXPECT_EQ(record.detail(), ""); // never the target of an earlier response
        }
        EXPECT_EQ(m_http.httpState(), HttpState::Idle);
    }
}

TEST_F(HttpScriptedTest, BodyCutShortFailsAndKeepsThePartForResume)
{
    const std::string body = test::patternBytes(100);
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + body.substr(0, 40))
        .drop()
        .add(ScriptedServer::Step::Accept)
        .add(ScriptedServer::Step::ExpectHeader)
        .sendRaw(
            "HTTP/1.1 206 Partial Content\r\nContent-Length: 60\r\nContent-Range: bytes 40-99/100\r\n\r\n"
            + body.substr(40));
    server.start();

    ASSERT_TRUE(connectTo(server));
    EXPECT_FALSE(m_http.download(local("cut.bin"), "/cut.bin"));
    EXPECT_TRUE(m_http.error().is(CatLocal, SocketReadError));
    EXPECT_EQ(test::readFile(m_dir / "cut.bin"), body.substr(0, 40));

    ASSERT_TRUE(connectTo(server));
    EXPECT_TRUE(m_http.download(local("cut.bin"), "/cut.bin"));
    ASSERT_TRUE(server.waitFinished());
    ASSERT_EQ(server.received().size(), 2u);
    EXPECT_EQ(server.received()[1],
        "GET /cut.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kUserAgent + "Range: bytes=40-\r\n" + kWantDigest
            + "\r\n");
    EXPECT_EQ(test::readFile(m_dir / "cut.bin"), body);
    EXPECT_EQ(m_http.totalSize(), 100); // the whole file: the local part and the 60 bytes sent
    EXPECT_EQ(m_http.bytesDone(), 100);
}

// A resumed request meets a range the server cannot or does not serve from the local length.
TEST_F(HttpScriptedTest, ContentRangeDecidesAResumedDownload)
{
    struct Case
    {
        const char *name;
        std::string localBytes;
        std::string response;
        bool ok;
    };

    const Case cases[] = {
        {"CompleteFileEndsWithTheFileUntouched", "abcdef",
            "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */6\r\nContent-Length: 0\r\n\r\n",
            true},
        {"LongerLocalFileFailsUntouched", "abcdefgh",
            "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */6\r\nContent-Length: 0\r\n\r\n",
            false},
        {"UnsatisfiedWithoutSizeFails", "abcdef",
            "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n", false},
        // A size the header parser refused is no size: "6x" must not read as 6.
        {"UnreadableSizeFails", "abcdef",
            "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */6x\r\nContent-Length: 0\r\n\r\n",
            false},
        {"PartWithoutAReadableRangeIsNotAppended", "abc",
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3-x/6\r\nContent-Length: 3\r\n\r\ndef",
            false},
        {"PartFromAnotherOffsetIsNotAppended", "abc",
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-5/6\r\nContent-Length: 6\r\n\r\nabcdef",
            false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        server.add(ScriptedServer::Step::ExpectHeader).sendRaw(c.response).add(ScriptedServer::Step::Hold);
        server.start();
        test::writeFile(m_dir / "f.bin", c.localBytes);
        ASSERT_TRUE(connectTo(server));
        EXPECT_EQ(m_http.download(local("f.bin"), "/f.bin"), c.ok);
        server.release();
        ASSERT_TRUE(server.waitFinished());
        EXPECT_EQ(test::readFile(m_dir / "f.bin"), c.localBytes);
        if (!c.ok) {
            EXPECT_TRUE(m_http.error().is(CatProtocol, UnexpectedResponse)
                || m_http.error().is(CatProtocol, PermissionDenied));
        }
    }
}

TEST_F(HttpScriptedTest, APartFromTheOffsetAskedForIsAppended)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw(
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3-5/6\r\nContent-Length: 3\r\n\r\ndef");
    server.start();
    test::writeFile(m_dir / "f.bin", "abc");
    ASSERT_TRUE(connectTo(server));
    EXPECT_TRUE(m_http.download(local("f.bin"), "/f.bin"));
    EXPECT_EQ(test::readFile(m_dir / "f.bin"), "abcdef");
}

TEST_F(HttpScriptedTest, BodyToTheCloseEndedByAResetFails)
{
    struct Case
    {
        const char *name;
        ScriptedServer::Step::Kind end;
        bool ok;
    };

    const Case cases[] = {
        {"orderly close ends the body", ScriptedServer::Step::Drop, true},
        {"reset cuts the body", ScriptedServer::Step::Reset, false},
    };
    for (const Case &c : cases) {
        ScriptedServer server;
        server.add(ScriptedServer::Step::ExpectHeader)
            .sendRaw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\npartial")
            .add(c.end);
        server.start();
        ASSERT_TRUE(connectTo(server)) << c.name;
        EXPECT_EQ(m_http.download(local("close.bin"), "/close.bin"), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(test::readFile(m_dir / "close.bin"), "partial") << c.name;
        } else {
            // What arrived before the reset stays for the next resume.
            EXPECT_EQ(std::string("partial").rfind(test::readFile(m_dir / "close.bin"), 0), 0u) << c.name;
            EXPECT_TRUE(m_http.error().is(CatLocal, SocketReadError)) << c.name;
        }
    }
}

TEST_F(HttpScriptedTest, ReplyWithoutStatusLineFailsAtOnce)
{
    struct Case
    {
        const char *name;
        std::string head;
    };

    const Case cases[] = {
        {"blank line", "\r\n"},
        {"headers without a status line", "Server: odd\r\nContent-Type: text/plain\r\n\r\n"},
    };
    for (const Case &c : cases) {
        ScriptedServer server;
        // Far more than a header may hold, and the connection stays open.
        server.add(ScriptedServer::Step::ExpectHeader)
            .sendRaw(c.head + std::string(4 * 1024 * 1024, 'b'))
            .hold();
        server.start();
        ASSERT_TRUE(connectTo(server)) << c.name;
        auto done = startDownload("nostatus.bin");
        const bool ended = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        server.release();
        ASSERT_TRUE(ended) << c.name;
        EXPECT_FALSE(done.get()) << c.name;
        EXPECT_TRUE(m_http.error().is(CatProtocol, UnexpectedResponse)) << c.name;
        EXPECT_FALSE(std::filesystem::exists(m_dir / "nostatus.bin")) << c.name;
    }
}

TEST_F(HttpScriptedTest, BodyEndsAtContentLengthOnAKeptAliveConnection)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")
        .hold();
    server.start();
    ASSERT_TRUE(connectTo(server));
    auto done = startDownload("alive.bin");
    // The server keeps the connection open: the download must end on its own.
    ASSERT_TRUE(endsThenReleases(done, server));
    EXPECT_TRUE(done.get());
    EXPECT_EQ(test::readFile(m_dir / "alive.bin"), "hello");
}

TEST_F(HttpScriptedTest, DecodesAChunkedBodyOnAKeptAliveConnection)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8\r\nchunke")
        .hold()
        .sendRaw("d \r\n4;x=y\r\nbody\r\n0\r\n\r\n")
        .hold();
    server.start();
    ASSERT_TRUE(connectTo(server));
    auto done = startDownload("chunked.bin");
    EXPECT_TRUE(test::waitUntil([&] { return m_http.bytesDone() == 6; }));
    server.release();
    ASSERT_TRUE(endsThenReleases(done, server));
    EXPECT_TRUE(done.get());
    EXPECT_EQ(test::readFile(m_dir / "chunked.bin"), "chunked body");
}

TEST_F(HttpScriptedTest, MalformedChunkedBodyFails)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcXYZ")
        .hold();
    server.start();
    ASSERT_TRUE(connectTo(server));
    auto done = startDownload("badchunks.bin");
    ASSERT_TRUE(endsThenReleases(done, server));
    EXPECT_FALSE(done.get());
    EXPECT_TRUE(m_http.error().is(CatLocal, SocketReadError));
}

TEST_F(HttpScriptedTest, EmptyBodyAndBytesPastTheLengthOnAKeptAliveConnection)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
        .hold()
        .add(ScriptedServer::Step::Accept)
        .add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcHTTP/1.1 200 OK\r\n")
        .hold();
    server.start();
    test::writeFile(m_dir / "empty.bin", "");
    ASSERT_TRUE(connectTo(server));
    auto first = startDownload("empty.bin");
    bool ended = first.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    server.release();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(first.get());
    EXPECT_EQ(test::readFile(m_dir / "empty.bin"), "");

    ASSERT_TRUE(connectTo(server));
    auto second = startDownload("three.bin");
    ended = second.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    server.release();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(second.get());
    EXPECT_EQ(test::readFile(m_dir / "three.bin"), "abc");
}

// A body that comes after the header is moved from the socket to the file by the kernel: it must end
// at the declared length on a kept-alive connection, append on a resume, and run to an orderly close.
TEST_F(HttpScriptedTest, ABodyAfterTheHeaderEndsAndAppendsAsAnyOther)
{
    const std::string big(3 * 1024 * 1024 + 17, 'b'); // more than one block

    struct Case
    {
        const char *name;
        std::string before; // the local file before the download ("" for none)
        std::string header;
        std::string body; // sent once the header was taken in
        bool keptAlive; // the server holds the connection after the body
        std::string expected;
    };

    const Case cases[] = {
        {"declared length on a kept-alive connection", "",
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n",
            big + "HTTP/1.1 200 OK\r\n", true, big},
        {"a resumed part is appended", "abc",
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 3-8/9\r\nContent-Length: 6\r\n\r\n",
            "defghiXYZ", true, "abcdefghi"},
        {"a body to the close", "", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", big, false, big},
    };
    for (const Case &c : cases) {
        ScriptedServer server;
        server.add(ScriptedServer::Step::ExpectHeader).sendRaw(c.header).hold().sendRaw(c.body);
        if (c.keptAlive)
            server.hold();
        else
            server.drop();
        server.start();
        const auto path = m_dir / "after.bin";
        std::filesystem::remove(path);
        if (!c.before.empty())
            test::writeFile(path, c.before);
        ASSERT_TRUE(connectTo(server)) << c.name;
        auto download = startDownload("after.bin");
        // The file is opened (and a resume's offset counted) once the header was read.
        ASSERT_TRUE(test::waitUntil([&] {
            return std::filesystem::exists(path) && m_http.bytesDone() == std::int64_t(c.before.size());
        })) << c.name;
        server.release();
        const bool ended = download.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        server.release();
        ASSERT_TRUE(ended) << c.name;
        EXPECT_TRUE(download.get()) << c.name;
        EXPECT_EQ(test::readFile(path), c.expected) << c.name;
    }
}

TEST_F(HttpScriptedTest, OverlongHeaderEndsTheConnectionAndLeavesTheFileAlone)
{
    std::string flood = "HTTP/1.1 200 OK\r\n";
    while (flood.size() < 2 * HttpHeaderParser::kMaxHeaderBytes)
        flood += "X-Filler: " + std::string(200, 'f') + "\r\n";
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader).sendRaw(flood).hold();
    server.start();

    test::writeFile(m_dir / "keep.bin", "partial");
    ASSERT_TRUE(connectTo(server));
    auto done = startDownload("keep.bin");
    ASSERT_TRUE(endsThenReleases(done, server));
    EXPECT_FALSE(done.get());
    EXPECT_TRUE(m_http.error().is(CatProtocol, UnexpectedResponse));
    EXPECT_FALSE(m_http.hasSocket());
    EXPECT_EQ(test::readFile(m_dir / "keep.bin"), "partial");
}

TEST_F(HttpScriptedTest, AbortFromAnotherThreadEndsTheDownload)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nabc")
        .hold();
    server.start();
    ASSERT_TRUE(connectTo(server));
    auto done = startDownload("aborted.bin");
    EXPECT_TRUE(test::waitUntil([&] { return m_http.bytesDone() == 3; }));
    m_http.abort(StopByItem);
    ASSERT_TRUE(endsThenReleases(done, server));
    EXPECT_FALSE(done.get());
    EXPECT_EQ(m_http.error().category(), CatProtocol);
    EXPECT_EQ(test::readFile(m_dir / "aborted.bin"), "abc");
}

void recordNotification(void *context, const ConnectionNotification &notification)
{
    static_cast<std::vector<ConnectionNotification> *>(context)->push_back(notification);
}

TEST_F(HttpScriptedTest, LogsAndNotifiesTheExchange)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectHeader)
        .sendRaw("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
    server.start();

    platform::ManualClock clock;
    m_http.setClock(&clock);
    std::vector<ConnectionNotification> seen;
    m_http.setObserver(&recordNotification, &seen);
    auto &log = core::DiagnosticLog::instance();
    log.open((m_dir / "diag.log").string(), 3);

    test::writeFile(m_dir / "logged.bin", "");
    ASSERT_TRUE(connectTo(server));
    ASSERT_TRUE(m_http.download(local("logged.bin"), "/logged.bin"));
    m_http.disconnect(StopByEngine);
    log.close();
    m_http.setClock(nullptr);

    const std::string text = test::readFile(m_dir / "diag.log");
    EXPECT_NE(text.find("[7] : Connection Established"), std::string::npos) << text;
    EXPECT_NE(text.find("[7] : [DOWN] File Downloaded: " + local("logged.bin")
                  + " - 4 bytes in 0 sec. (0.00 Kb/s)"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("[7] : Disconnect: Goodbye.  Control connection closed."), std::string::npos) << text;

    std::vector<std::string> sent;
    int ticks = 0;
    for (const auto &n : seen) {
        if (n.kind == NotifyCommandSent)
            sent.push_back(n.text);
        if (n.kind == NotifyProgress)
            ++ticks;
    }
    EXPECT_EQ(sent,
        (std::vector<std::string>{"GET /logged.bin HTTP/1.1", "Host: 127.0.0.1",
            kUserAgent.substr(0, kUserAgent.size() - 2), kWantDigest.substr(0, kWantDigest.size() - 2)}));
    EXPECT_GE(ticks, 1);
}

TEST_F(HttpScriptedTest, RefusesARequestPathWithALineBreak)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::ExpectClose);
    server.start();
    ASSERT_TRUE(connectTo(server));
    EXPECT_FALSE(m_http.download(local("injected.bin"), "/a HTTP/1.1\r\nX-Injected: 1\r\n\r\nGET /b"));
    EXPECT_TRUE(m_http.error().is(CatProtocol, UnexpectedResponse));
    m_http.close();
    ASSERT_TRUE(server.waitFinished());
    EXPECT_EQ(server.failures(), std::vector<std::string>{});
    EXPECT_EQ(server.received(), std::vector<std::string>{}); // nothing was sent
    EXPECT_FALSE(std::filesystem::exists(m_dir / "injected.bin"));
}

TEST_F(HttpScriptedTest, ConnectFailureIsConnectFailed)
{
    int port = 0;
    {
        ScriptedServer unused; // a port that was free a moment ago and has no listener now
        port = unused.port();
    }
    EXPECT_FALSE(m_http.connect("127.0.0.1", port, "", "", 3));
    EXPECT_TRUE(m_http.error().is(CatProtocol, ConnectFailed));
    EXPECT_EQ(m_http.httpState(), HttpState::Unknown);
}

} // namespace
} // namespace bw::net
