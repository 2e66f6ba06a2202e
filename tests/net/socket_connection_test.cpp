// SPDX-License-Identifier: MIT
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "net/rate_limiter.h"
#include "net/socket_connection.h"
#include "net/speed_limits.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace bw::net {
namespace {

using bw::test::ScriptedServer;
using bw::test::TempDir;

// Connects a fresh connection to the scripted server.
std::unique_ptr<SocketConnection> connectTo(const ScriptedServer &server)
{
    auto connection = std::make_unique<SocketConnection>();
    EXPECT_TRUE(connection->createAndBind(0));
    EXPECT_TRUE(connection->connect("127.0.0.1", server.port()));
    return connection;
}

// A transfer run by an owner thread of its own while the test watches it.
class Background
{
public:
    explicit Background(std::function<bool()> run)
        : m_result(std::async(std::launch::async, std::move(run)))
    {}

    bool ends(std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        return m_result.wait_for(limit) == std::future_status::ready;
    }

    bool succeeded() { return m_result.get(); }

private:
    std::future<bool> m_result;
};

// Two connected ends made by our own listener: `client` connected, `accepted` from acceptInto.
struct Pair
{
    SocketConnection listener;
    SocketConnection client;
    SocketConnection accepted;

    Pair()
    {
        std::string address;
        int port = 0;
        EXPECT_TRUE(listener.createAndBind(0));
        EXPECT_TRUE(listener.listen(5));
        EXPECT_TRUE(listener.localAddress(address, port));
        EXPECT_TRUE(client.connect("127.0.0.1", port));
        EXPECT_TRUE(listener.acceptInto(accepted, 5));
        EXPECT_EQ(accepted.state(), SocketState::Connected);
    }
};

TEST(SocketConnection, MultiLineReplyIsReadWhole)
{
    ScriptedServer server;
    server.sendRaw("220-Hello\r\n220-more\r\n220 Ready\r\n331 Later\r\n").hold();
    server.start();
    auto connection = connectTo(server);
    std::deque<std::string> sink;
    EXPECT_EQ(connection->readReply(10, &sink), 220);
    EXPECT_EQ(sink, (std::deque<std::string>{"220-Hello", "220-more", "220 Ready"}));
    // The next reply was already received and stays queued.
    EXPECT_EQ(connection->readReply(10, nullptr), 331);
    server.release();
}

TEST(SocketConnection, ReplyLineSplitAcrossTwoReceives)
{
    ScriptedServer server;
    server.sendRaw("22").hold().sendRaw("0 Ready\r\n").hold();
    server.start();
    auto connection = connectTo(server);
    ASSERT_TRUE(connection->waitReadable(10));
    char chunk[16];
    std::int64_t got = 0;
    ASSERT_TRUE(connection->receive(chunk, sizeof chunk, got));
    ASSERT_EQ(got, 2);
    connection->replyReader().feed(chunk, 2);
    server.release();
    EXPECT_EQ(connection->readReply(10, nullptr), 220);
    server.release();
}

TEST(SocketConnection, OverlongControlLineEndsTheConnection)
{
    ScriptedServer server;
    server.sendRaw(std::string(SocketConnection::kMaxLineBytes + 10, 'x')).hold();
    server.start();
    auto connection = connectTo(server);
    EXPECT_EQ(connection->readReply(10, nullptr), -1);
    EXPECT_FALSE(connection->hasSocket());
    EXPECT_EQ(connection->state(), SocketState::None);
    EXPECT_TRUE(connection->error().is(CatSocket, 10040));
    server.release();
}

TEST(SocketConnection, EndlessMultiLineReplyEndsTheConnection)
{
    ScriptedServer server;
    std::string lines;
    for (int i = 0; i < 1200; ++i)
        lines += "220-" + std::string(1000, 'y') + "\r\n";
    server.sendRaw(lines).hold();
    server.start();
    auto connection = connectTo(server);
    EXPECT_EQ(connection->readReply(10, nullptr), -1);
    EXPECT_FALSE(connection->hasSocket());
    EXPECT_TRUE(connection->error().is(CatSocket, 10040));
    server.release();
}

TEST(SocketConnection, UnresolvableHostRecordsInvalidArgument)
{
    SocketConnection connection;
    ASSERT_TRUE(connection.createAndBind(0));
    EXPECT_FALSE(connection.connect("no-such-host.invalid", 21));
    EXPECT_TRUE(connection.error().is(CatSocket, 10022));
    EXPECT_EQ(connection.state(), SocketState::Created);
}

// A port of this machine that nobody listens on (bound for a moment, then let go).
int closedPort()
{
    SocketConnection probe;
    std::string address;
    int port = 0;
    EXPECT_TRUE(probe.createAndBind(0));
    EXPECT_TRUE(probe.localAddress(address, port));
    return port;
}

TEST(SocketConnection, RefusedConnectLeavesAFreshSocket)
{
    const int port = closedPort();
    SocketConnection connection;
    EXPECT_FALSE(connection.connect("127.0.0.1", port));
    EXPECT_TRUE(connection.error().is(CatSocket, 10061));
    EXPECT_EQ(connection.state(), SocketState::Created);
    EXPECT_TRUE(connection.hasSocket());
}

TEST(SocketConnection, ConnectInTwoHalvesReportsARefusalAtOnce)
{
    // A port nobody listens on: the refusal of a near server is known when the connect starts, before
    // the caller sends the command it overlaps with.
    SocketConnection refused;
    EXPECT_FALSE(refused.beginConnect("127.0.0.1", closedPort()));
    EXPECT_TRUE(refused.error().is(CatSocket, 10061));
    EXPECT_FALSE(refused.finishConnect());

    SocketConnection listener;
    std::string address;
    int port = 0;
    ASSERT_TRUE(listener.createAndBind(0));
    ASSERT_TRUE(listener.listen(5));
    ASSERT_TRUE(listener.localAddress(address, port));
    SocketConnection client;
    ASSERT_TRUE(client.beginConnect("127.0.0.1", port));
    EXPECT_TRUE(client.finishConnect());
    EXPECT_TRUE(client.isConnected());
    SocketConnection accepted;
    EXPECT_TRUE(listener.acceptInto(accepted, 5));
}

TEST(SocketConnection, StopRequestEndsAnUnlimitedWaitAtOnce)
{
    ScriptedServer server;
    server.hold();
    server.start();
    auto connection = connectTo(server);
    std::atomic<bool> returned{false};
    std::atomic<bool> readable{true};
    std::thread waiter([&] {
        readable = connection->waitReadableSliced(0);
        returned = true;
    });
    connection->requestStop(StopByEngine);
    // Well inside one 5-second slice: the stop wakes the wait.
    EXPECT_TRUE(bw::test::waitUntil([&] { return returned.load(); }, std::chrono::milliseconds(2500)));
    waiter.join();
    EXPECT_FALSE(readable);
    EXPECT_TRUE(connection->error().is(CatStop, StopByEngine));
    // Sends and receives refuse to run and leave the record as it is.
    std::int64_t sent = 0;
    EXPECT_FALSE(connection->sendDirect("x", 1, sent));
    EXPECT_TRUE(connection->error().is(CatStop, StopByEngine));
    server.release();
}

TEST(SocketConnection, SendToAClosedPeerFailsWithoutSignal)
{
    Pair pair;
    pair.accepted.close();
    const std::string block(64 * 1024, 'x');
    bool failed = false;
    // The first sends may still be accepted locally; once the reset arrives a send fails.
    EXPECT_TRUE(bw::test::waitUntil([&] {
        std::int64_t sent = 0;
        failed = !pair.client.sendDirect(block.data(), static_cast<std::int64_t>(block.size()), sent);
        return failed;
    }));
    const ErrorCode record = pair.client.error();
    EXPECT_TRUE(record.is(CatSocket, 10053) || record.is(CatSocket, 10054)) << record.code();
    EXPECT_FALSE(pair.client.hasSocket());
}

TEST(SocketConnection, FileRoundTripIsByteIdentical)
{
    TempDir dir;
    const std::string bytes = bw::test::patternBytes(3 * 1024 * 1024 + 17);
    bw::test::writeFile(dir / "source", bytes);
    Pair pair;
    Background receive([&] { return pair.client.receiveFile((dir / "target").string(), true, {}); });
    EXPECT_TRUE(pair.accepted.sendFile((dir / "source").string(), 0, true, {}));
    ASSERT_TRUE(receive.ends());
    EXPECT_TRUE(receive.succeeded());
    EXPECT_EQ(pair.accepted.totalSize(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(pair.client.bytesDone(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(bw::test::readFile(dir / "target"), bytes);
    EXPECT_FALSE(pair.client.hasSocket());
    EXPECT_FALSE(pair.accepted.hasSocket());
}

TEST(SocketConnection, SendFromAnOffsetSendsTheRest)
{
    TempDir dir;
    const std::string bytes = bw::test::patternBytes(100000);
    bw::test::writeFile(dir / "source", bytes);

    struct Case
    {
        std::int64_t offset;
    };

    for (const Case c : {Case{0}, Case{40000}, Case{100000}}) {
        Pair pair;
        Background receive([&] { return pair.client.receiveFile((dir / "target").string(), true, {}); });
        EXPECT_TRUE(pair.accepted.sendFile((dir / "source").string(), c.offset, true, {})) << c.offset;
        ASSERT_TRUE(receive.ends());
        EXPECT_TRUE(receive.succeeded()) << c.offset;
        EXPECT_EQ(bw::test::readFile(dir / "target"), bytes.substr(static_cast<std::size_t>(c.offset)))
            << c.offset;
    }
}

TEST(SocketConnection, PeerClosingAtOnceGivesAnEmptyFile)
{
    TempDir dir;
    bw::test::writeFile(dir / "target", "old contents");
    ScriptedServer server;
    server.drop();
    server.start();
    auto connection = connectTo(server);
    EXPECT_TRUE(connection->receiveFile((dir / "target").string(), true, {}));
    EXPECT_FALSE(connection->error().isSet());
    EXPECT_EQ(bw::test::readFile(dir / "target"), "");
}

TEST(SocketConnection, MissingFileFailsTheSend)
{
    TempDir dir;
    Pair pair;
    EXPECT_FALSE(pair.accepted.sendFile((dir / "missing").string(), 0, true, {}));
    EXPECT_TRUE(pair.accepted.error().is(CatLocal, FileOpenError));
}

TEST(SocketConnection, StalledReceiveEndsAfterItsStallLimit)
{
    TempDir dir;
    platform::ManualClock clock(5000);
    ScriptedServer server;
    server.sendRaw("abc").hold();
    server.start();
    auto connection = connectTo(server);
    connection->setClock(&clock);
    const TransferWatch watch{30, {}};
    Background receive([&] { return connection->receiveFile((dir / "target").string(), true, watch); });
    ASSERT_TRUE(bw::test::waitUntil([&] { return connection->bytesDone() == 3 && connection->isStalled(); }));
    clock.advance(30);
    EXPECT_FALSE(receive.ends(std::chrono::milliseconds(200))); // not longer than the limit yet
    clock.advance(1);
    ASSERT_TRUE(receive.ends(std::chrono::milliseconds(2500)));
    EXPECT_FALSE(receive.succeeded());
    EXPECT_TRUE(connection->error().is(CatStop, DataIdleTimeout));
    EXPECT_FALSE(connection->isStopRequested()); // a time-out is no stop request of the owner
    EXPECT_FALSE(connection->isStalled());
    EXPECT_EQ(bw::test::readFile(dir / "target"), "abc");
    server.release();
}

TEST(SocketConnection, TooSlowReceiveFailsOnceMeasured)
{
    TempDir dir;
    ScriptedServer server;
    server.sendRaw(std::string(5000, 'z')).hold();
    server.start();
    auto connection = connectTo(server);
    // 5000 bytes in a second or more is far below this limit; the first measurement comes after 1 s.
    connection->setMinSpeed(1000000);
    EXPECT_FALSE(connection->receiveFile((dir / "target").string(), true, {}));
    EXPECT_TRUE(connection->error().is(CatLocal, TransferTooSlow));
    EXPECT_EQ(connection->currentSpeed(), 0); // reset when the transfer ends
    EXPECT_EQ(bw::test::readFile(dir / "target"), std::string(5000, 'z'));
    server.release();
}

TEST(SocketConnection, RateLimiterMetersTheReceiveJob)
{
    TempDir dir;
    platform::ManualClock clock;
    RateLimiter limiter(clock);
    limiter.setLimit(10000); // a full bucket holds 1000 bytes
    ScriptedServer server;
    server.sendRaw(std::string(5000, 'r')).drop();
    server.start();
    auto connection = connectTo(server);
    connection->setRateLimiter(&limiter);
    Background receive([&] { return connection->receiveFile((dir / "target").string(), true, {}); });
    // The first bucket passes at once; then nothing moves until the clock does.
    ASSERT_TRUE(bw::test::waitUntil([&] { return connection->bytesDone() == 1000; }));
    EXPECT_EQ(limiter.participants(), 1);
    EXPECT_FALSE(receive.ends(std::chrono::milliseconds(100)));
    EXPECT_EQ(connection->bytesDone(), 1000);
    EXPECT_TRUE(bw::test::waitUntil([&] {
        clock.advanceMilliseconds(100);
        return receive.ends(std::chrono::milliseconds(10));
    }));
    EXPECT_TRUE(receive.succeeded());
    EXPECT_EQ(bw::test::readFile(dir / "target"), std::string(5000, 'r'));
    EXPECT_EQ(limiter.participants(), 0);
}

TEST(SocketConnection, SharedMinimumEndsAReceiveOnlyAfterTheGrace)
{
    TempDir dir;
    platform::ManualClock clock;
    SpeedLimits limits(clock);
    limits.setMinKBps(1000);
    ScriptedServer server;
    server.sendRaw(std::string(5000, 'm')).hold();
    server.start();
    auto connection = std::make_unique<SocketConnection>();
    connection->setClock(&clock);
    connection->setSpeedLimits(&limits);
    connection->setMinSpeedGrace(5);
    connection->reset(); // the limits and the grace outlive a reset, as every connect makes one
    ASSERT_TRUE(connection->createAndBind(0));
    ASSERT_TRUE(connection->connect("127.0.0.1", server.port()));
    Background receive([&] { return connection->receiveFile((dir / "target").string(), true, {}); });
    ASSERT_TRUE(bw::test::waitUntil([&] { return connection->bytesDone() == 5000; }));
    // Slow for 4.9 s: measured (1 kB/s on average), but not ended.
    clock.advanceMilliseconds(4900);
    ASSERT_TRUE(bw::test::waitUntil([&] { return connection->currentSpeed() == 1; }));
    EXPECT_FALSE(receive.ends(std::chrono::milliseconds(200)));
    // Past the grace: the next whole second below the minimum ends it as too slow.
    clock.advanceMilliseconds(1100);
    ASSERT_TRUE(receive.ends(std::chrono::seconds(10)));
    EXPECT_FALSE(receive.succeeded());
    EXPECT_TRUE(connection->error().is(CatLocal, TransferTooSlow));
    EXPECT_EQ(bw::test::readFile(dir / "target"), std::string(5000, 'm'));
    server.release();
}

TEST(SocketConnection, SharedLimitMetersTheSendJob)
{
    TempDir dir;
    const std::string content(30000, 'u');
    bw::test::writeFile(dir / "source", content);
    platform::ManualClock clock;
    SpeedLimits limits(clock);
    limits.setMaxKBps(100); // a full bucket holds 10,000 bytes
    Pair pair;
    pair.client.setSpeedLimits(&limits);
    Background send([&] { return pair.client.sendFile((dir / "source").string(), 0, true, {}); });
    Background receive([&] { return pair.accepted.receiveFile((dir / "target").string(), true, {}); });
    // One bucket passes at once; the rest only as the clock moves.
    ASSERT_TRUE(bw::test::waitUntil([&] { return pair.client.bytesDone() == 10000; }));
    EXPECT_FALSE(send.ends(std::chrono::milliseconds(100)));
    EXPECT_EQ(pair.client.bytesDone(), 10000);
    EXPECT_TRUE(bw::test::waitUntil([&] {
        clock.advanceMilliseconds(50);
        return send.ends(std::chrono::milliseconds(10));
    }));
    EXPECT_TRUE(send.succeeded());
    ASSERT_TRUE(receive.ends());
    EXPECT_TRUE(receive.succeeded());
    EXPECT_EQ(bw::test::readFile(dir / "target"), content);
    EXPECT_EQ(limits.rateLimiter().participants(), 0);
}

// A stream that, like TLS, must see a write that would block repeated with at least the same length. Its
// first write would block, and meanwhile a second transfer joins the rate limit (the shares shrink).
class RetryLengthStream final : public ByteStream
{
public:
    RetryLengthStream(ByteStream &tcp, RateLimiter &limiter)
        : m_tcp(tcp)
        , m_limiter(limiter)
    {}

    IoResult write(const char *data, std::int64_t size) override
    {
        if (size < m_blockedLength)
            return {IoResult::Status::Failed, 0, EPROTO}; // OpenSSL: "bad length"
        m_blockedLength = 0;
        if (!m_other) {
            m_other = std::make_unique<RateLimiter::Ticket>(m_limiter.join());
            m_blockedLength = size;
            return {IoResult::Status::WouldBlock, 0, 0, StreamInterest::Write};
        }
        return m_tcp.write(data, size);
    }

    IoResult read(char *buffer, std::int64_t size) override { return m_tcp.read(buffer, size); }

    WaitResult wait(StreamInterest interest, int timeoutMs) override
    {
        return m_tcp.wait(interest, timeoutMs);
    }

    int shutdown(ShutdownDirection direction) override { return m_tcp.shutdown(direction); }

    int close() override { return m_tcp.close(); }

    bool isOpen() const override { return m_tcp.isOpen(); }

    int zeroCopyFd() const override { return -1; }

private:
    ByteStream &m_tcp;
    RateLimiter &m_limiter;
    std::unique_ptr<RateLimiter::Ticket> m_other;
    std::int64_t m_blockedLength = 0;
};

TEST(SocketConnection, AWriteThatWouldBlockIsRetriedWithItsLength)
{
    TempDir dir;
    const std::string content = bw::test::patternBytes(30000, 5);
    bw::test::writeFile(dir / "source", content);
    platform::ManualClock clock;
    RateLimiter limiter(clock);
    limiter.setLimit(400000); // a full bucket holds 40,000 bytes, half of it once two share it
    Pair pair;
    pair.client.setRateLimiter(&limiter);
    pair.client.setStreamLayer(std::make_unique<RetryLengthStream>(pair.client.tcpStream(), limiter));
    Background receive([&] { return pair.accepted.receiveFile((dir / "target").string(), true, {}); });
    EXPECT_TRUE(pair.client.sendFile((dir / "source").string(), 0, true, {})) << pair.client.error().text();
    ASSERT_TRUE(receive.ends());
    EXPECT_TRUE(receive.succeeded());
    EXPECT_TRUE(bw::test::readFile(dir / "target") == content);
}

TEST(SocketConnection, SendTextReportsAFailedSend)
{
    SocketConnection connection;
    // Not connected: nothing can be sent.
    EXPECT_FALSE(connection.sendText("NOOP\r\n", false));
    Pair pair;
    ScriptedServer server;
    server.expect("NOOP").hold();
    server.start();
    auto connected = connectTo(server);
    EXPECT_TRUE(connected->sendText("NOOP\r\n", false));
    EXPECT_TRUE(bw::test::waitUntil([&] { return server.received().size() == 1; }));
    EXPECT_EQ(server.received(), std::vector<std::string>{"NOOP"});
    server.release();
}

// Reads a minimal response header, as the HTTP client does.
class HeaderReadingFilter : public ResponseFilter
{
public:
    bool filterBody(char *, std::int64_t &, bool &) override { return true; }

    int parseHeader(std::string &chunk, bool &headerOpen) override
    {
        int status = -1;
        std::size_t end;
        while (headerOpen && (end = chunk.find("\r\n")) != std::string::npos) {
            const std::string line = chunk.substr(0, end);
            chunk.erase(0, end + 2);
            if (line.empty())
                headerOpen = false;
            else if (line.rfind("HTTP/", 0) == 0)
                status = std::stoi(line.substr(line.find(' ') + 1));
        }
        return status;
    }
};

TEST(SocketConnection, ResponseStatusDecidesAppendOrFailure)
{
    struct Case
    {
        const char *name;
        std::string response;
        bool ok;
        std::string file; // "-" when no file may be touched
        std::int64_t resumeOffset;
    };

    const Case cases[] = {
        {"206 appends", "HTTP/1.1 206 Partial\r\nX: y\r\n\r\nDEF", true, "abcDEF", 3},
        {"200 overwrites", "HTTP/1.1 200 OK\r\n\r\nwhole", true, "whole", 0},
        {"404 fails without a file", "HTTP/1.1 404 Not Found\r\n\r\nmissing", false, "-", 0},
        {"endless header line fails", "HTTP/1.1 200 OK\r\nX: " + std::string(100000, 'h'), false, "-", 0},
    };
    for (const Case &c : cases) {
        TempDir dir;
        const auto target = dir / "target";
        if (c.file != "-")
            bw::test::writeFile(target, "abc");
        ScriptedServer server;
        server.sendRaw(c.response).drop();
        server.start();
        HeaderReadingFilter filter;
        SocketConnection connection;
        ASSERT_TRUE(connection.connect("127.0.0.1", server.port()));
        EXPECT_EQ(connection.receiveFile(target.string(), true, {}, &filter), c.ok) << c.name;
        if (c.file == "-") {
            EXPECT_FALSE(std::filesystem::exists(target)) << c.name;
            EXPECT_EQ(connection.error().status(), c.response.substr(9, 3) == "404" ? 404 : 200) << c.name;
        } else {
            EXPECT_EQ(bw::test::readFile(target), c.file) << c.name;
            EXPECT_EQ(connection.resumeOffset(), c.resumeOffset) << c.name;
        }
    }
}

} // namespace
} // namespace bw::net
