// SPDX-License-Identifier: MIT
// src/net (bw_net): byte streams, the socket layer, the FTP and HTTP clients, the listing parser. May use
// core, platform and OpenSSL; never engine or Qt.
//
// One TCP connection with deadline-bound calls over a ByteStream, the FTP reply reader of a control
// connection, and the transfers (send a text, send a file, receive into a file), each run to its end
// on the calling thread. One owner thread drives it and alone opens, uses and closes its socket; any
// thread may request a stop, which every wait sees at once and which stays until the owner clears it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/byte_stream.h"
#include "net/error_code.h"
#include "net/ftp_reply_reader.h"
#include "net/host_addresses.h"
#include "net/min_speed_watch.h"
#include "net/proxy_route.h"
#include "net/rate_limiter.h"
#include "net/speed_limits.h"
#include "net/stop_signal.h"
#include "net/tcp_stream.h"
#include "net/transfer_progress.h"
#include "platform/clock.h"

namespace bw::net {

class StreamDigest;

// Stored and reported as these numbers.
enum class SocketState : int
{
    None = 0,
    Created = 1, // created, bound, or a connect failed
    Connecting = 2,
    Connected = 3,
    Listening = 4,
    Closing = 5,
};

// How the owner watches a file transfer it runs.
struct TransferWatch
{
    // Nothing moved for longer than this ends the transfer with DataIdleTimeout (0: no limit).
    int stallLimitSeconds = 0;
    // Called on the transferring thread at most about every 100 ms, and once at the end.
    TransferProgress progress;
    // A receive that would go past this many bytes ends with ListingTooLarge (0: no bound); no byte
    // beyond it reaches the file.
    std::int64_t byteLimit = 0;
    // Sees every byte of the file a receive writes, a resumed part included; borrowed, null for none.
    StreamDigest *digest = nullptr;
};

// Reads a response header and sees the body of a receive transfer (the HTTP client). Called on the
// owner's thread while the transfer runs.
class ResponseFilter
{
public:
    virtual ~ResponseFilter() = default;
    // Called with the bytes received so far: consumes whole header lines from the front of `chunk`
    // (a partial line and any body bytes stay), clears `headerOpen` at the blank line, and returns the
    // status found in this chunk or -1.
    virtual int parseHeader(std::string &chunk, bool &headerOpen) = 0;
    // Sees each body block before it is written: may shrink it in place (`length`, e.g. to undo a
    // transfer encoding), set `bodyEnded` when the body is complete, or return false to fail the transfer.
    virtual bool filterBody(char *data, std::int64_t &length, bool &bodyEnded) = 0;

    // How many body bytes from here on may go to the file unseen (spliced), reported afterwards
    // through passedUnseen: 0 while every byte must pass filterBody (a transfer encoding).
    virtual std::int64_t bytesPassableUnseen() { return 0; }

    // Asked once the header is complete: false when the response has no body to keep (none at all, or
    // no way to tell where it ends). The file is then not opened and the receive fails.
    virtual bool mayReceiveBody() { return true; }

    virtual void passedUnseen(std::int64_t /*length*/, bool & /*bodyEnded*/) {}
};

enum class IpFamily : int
{
    V4 = 0,
    V6 = 1,
};

class SocketConnection final
{
public:
    // A control line longer than this ends the connection with an error.
    static constexpr std::size_t kMaxLineBytes = FtpReplyReader::kMaxLineBytes;
    // A reply (all its continuation lines) longer than this ends the connection with an error too.
    static constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
    // A response header longer than this fails the receive.
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

    // With `sharedStop`, the connection obeys that stop request (borrowed; it must outlive the
    // connection), so that one request reaches every socket of a protocol connection.
    explicit SocketConnection(StopSignal *sharedStop = nullptr);
    ~SocketConnection();
    SocketConnection(const SocketConnection &) = delete;
    SocketConnection &operator=(const SocketConnection &) = delete;

    // Socket operations. Each clears the record on entry, records a failing call with its socket error
    // number and returns true when the record is clear at the end.
    bool createSocket();
    // Binds to every local address of the family (IPv4 unless told otherwise).
    bool createAndBind(int port, IpFamily family = IpFamily::V4);
    // Tries every address of `host` (IPv6 and IPv4, in the resolver's order) until one connects; each
    // attempt is bounded by the connect time-out and a stop ends them all, the name look-up too. An
    // unknown name records 10022; when every attempt fails, the last attempt's error is kept.
    bool connect(const std::string &host, int port);
    void setConnectTimeoutSeconds(int seconds);
    // A connect in two halves, so the caller can send something meanwhile: beginConnect starts it to
    // the first address of `host` (true when it is under way or done), finishConnect waits for it
    // with the connect time-out (true when connected).
    bool beginConnect(const std::string &host, int port);
    bool finishConnect();

    // Every later connect goes through `proxy` (kind None: straight to the server), and fails
    // rather than go around a proxy that cannot be reached or says no. Owner thread.
    void setProxy(ProxyRoute proxy) { m_proxy = std::move(proxy); }

    const ProxyRoute &proxy() const { return m_proxy; }

    // Connects to the proxy itself, for a client that speaks to it directly (HTTP's absolute-form
    // requests). Its failures are recorded as the proxy's, as those of connect() through it.
    bool connectToProxy();

    // The server this socket talks to: the tunnel's far end when it goes through a proxy, else the
    // peer's address. `serverText` adds the port and the route ("ftp.example.org port 21 via proxy
    // 127.0.0.1:1080"), as the logs name a connection.
    std::string serverHost() const;
    std::string serverText() const;

    // Replaces the name look-up (tests); nullptr restores it. Owner thread.
    void setResolver(HostResolver resolver) { m_resolver = resolver; }

    bool listen(int backlog);
    // Waits up to `seconds` (or `limit`) for a connection on this listening socket and accepts it into
    // `target`. A time-out returns false without an error; a stop request returns false at once.
    bool acceptInto(SocketConnection &target, int seconds);
    bool acceptInto(SocketConnection &target, std::chrono::milliseconds limit);
    bool close();
    bool shutdown(ShutdownDirection direction);
    bool waitReadable(int seconds);
    // Waits in slices of 5 seconds until readable, a failure, `seconds` used up (0: no limit) or a stop.
    bool waitReadableSliced(int seconds);
    // Sends only what the socket takes at once; a full socket succeeds with 0 bytes. len -1: strlen.
    bool sendWhenWritable(const char *data, std::int64_t len, std::int64_t &sent);
    // Sends without testing writability first (the stream never blocks: a full socket sends 0).
    bool sendDirect(const char *data, std::int64_t len, std::int64_t &sent);
    // Reads what is ready at once; nothing ready succeeds with 0 bytes. A peer close closes the socket
    // and returns false with a clear record.
    bool receive(char *buffer, std::int64_t size, std::int64_t &got);

    // The last peer close that receive() met was confirmed by the stream: a plain TCP close, or TLS
    // with close_notify. False before any close on this stream, and after one cut without close_notify.
    bool endConfirmed() const { return m_endConfirmed; }

    bool localAddress(std::string &text, int &port);
    // The address of the other end as text ("192.0.2.7", "::1"); empty when not connected.
    std::string peerAddress() const;
    // The port of the other end; 0 when not connected.
    int peerPort() const;
    // True when the socket talks IPv6.
    bool isIpv6() const;

    // The stream bytes move through: the TCP socket, or a layer installed on it.
    ByteStream &stream();
    // Installs a layer (e.g. encryption) built on the connected TCP stream.
    void setStreamLayer(std::unique_ptr<ByteStream> layer);

    TcpStream &tcpStream() { return m_tcp; }

    // Control replies: lines received on this connection and read by readReply.
    FtpReplyReader &replyReader() { return m_replies; }

    // Reads lines until a reply is complete; every line read goes to `sink` when given. -1 on a
    // time-out (`seconds` without a byte, or kReplyTimeoutsPerReply times that for the whole reply) or a
    // failure. Lines after the reply stay queued.
    int readReply(int seconds, std::deque<std::string> *sink);
    static constexpr int kReplyTimeoutsPerReply = 2;

    // Transfers, each run to its end (or its stop) on the calling thread. True when it succeeded.
    bool sendText(const std::string &text, bool closeWhenDone);
    // One write of a short text that ignores a stop request (a goodbye after a stop); never waits.
    bool sendTextOnce(const std::string &text);
    // Sends a file from `offset`; sendfile on plain TCP.
    bool sendFile(
        const std::string &path, std::int64_t offset, bool closeWhenDone, const TransferWatch &watch);
    // Receives into a file (appended in append mode, see setAppendMode); splice on plain TCP. With a
    // filter, a response header is read through it first, and the filter sees the body (borrowed).
    bool receiveFile(const std::string &path, bool closeWhenDone, const TransferWatch &watch,
        ResponseFilter *filter = nullptr);

    // The record, as a copy: the last failure, or the stop request a step ended for.
    ErrorCode error() const;
    // Clears the failure record; never a stop request.
    void clearError();
    // Clears the record unless a stop is requested; when one is, the record becomes that stop and
    // the result is false.
    bool clearErrorUnlessStopped();
    // Records the pending stop as the outcome of the step that ended for it; returns false.
    bool recordStop();
    void setError(ErrorCategory category, std::int32_t code);
    void setError(const ErrorCode &record);
    void recordSocketError(int socketErrorNumber);
    void setLocalError(std::int32_t code);
    void setErrorStatus(std::int32_t status);
    void setErrorDetail(std::string detail);

    // The sticky stop request (code 15, 101, 1025, ...): any thread may set it; every wait of this
    // connection ends within moments and every later operation fails at once, until the owner calls
    // clearStop() or reset().
    void requestStop(std::int32_t code);
    void clearStop();
    bool isStopRequested() const;

    SocketState state() const { return m_state.load(); }

    bool hasSocket() const { return m_tcp.isOpen(); }

    bool isConnected() const { return m_state.load() == SocketState::Connected; }

    // Counters and settings of the file transfers; the counters may be read from any thread.
    std::int64_t bytesDone() const { return m_bytesDone.load(std::memory_order_relaxed); }

    std::int64_t totalSize() const { return m_totalSize.load(std::memory_order_relaxed); }

    void setTotalSize(std::int64_t bytes) { m_totalSize.store(bytes, std::memory_order_relaxed); }

    // True while the running transfer waits for the stream (nothing moves).
    bool isStalled() const { return m_stalled.load(std::memory_order_relaxed); }

    // The average speed of the running transfer (kB/s), 0 when none runs.
    int currentSpeed() const { return m_currentSpeed.load(std::memory_order_relaxed); }

    // The connection's own minimum speed (kB/s), before the shared one.
    void setMinSpeed(int kBps) { m_minSpeed = kBps; }

    void setAppendMode(bool append) { m_appendMode = append; }

    bool appendMode() const { return m_appendMode; }

    // The next receives write from this byte of their file on (its other bytes stay), instead of
    // replacing or appending to it; -1 for the usual way.
    void setWriteOffset(std::int64_t offset) { m_writeOffset = offset; }

    // Where the last receive started in its file.
    std::int64_t resumeOffset() const { return m_resumeOffset.load(std::memory_order_relaxed); }

    // The shared limit the transfers ask before each read or write; borrowed, null for none.
    void setRateLimiter(RateLimiter *limiter) { m_rateLimiter = limiter; }

    // The limits all transfers share (their rate limiter, unless one was set above, and their minimum
    // speed, unless this connection has its own); borrowed, null for none. Kept by reset().
    void setSpeedLimits(SpeedLimits *limits) { m_speedLimits = limits; }

    // How long a transfer may stay below its minimum speed before it fails as too slow (0: at the
    // first slow second). Kept by reset().
    void setMinSpeedGrace(int seconds) { m_minSpeedGrace = seconds; }

    // Back to the fresh state: no socket, no stop, no own limits, counters 0.
    void reset();

    // The clock behind stall and speed times; tests inject a manual one. Not owned.
    void setClock(const platform::Clock *clock);

    const platform::Clock &clock() const { return *m_clock.load(); }

private:
    struct Pace;

    // The watch of one running transfer: stalls, speed, the shared rate and progress.
    Pace beginPace(const TransferWatch &watch);
    // Asks the rate limiter how much of `wanted` may move now, waiting (stop-aware) while it says
    // wait. 0 when the transfer was stopped meanwhile. Without a limiter everything may move.
    std::int64_t throttle(Pace &pace, std::int64_t wanted);
    // The checkpoint after a wait and every few blocks: false (with the reason recorded) when the
    // transfer must end: a stop, a stall longer than its limit, or too slow for too long.
    bool checkpoint(Pace &pace);
    // The minimum speed a transfer starting now must keep (its own, else the shared one).
    int effectiveMinSpeed() const;
    // Waits for the stream (a stall); false when the transfer must end.
    bool waitStalled(Pace &pace, StreamInterest interest);
    // Counts bytes that moved; a stall is over.
    void movedBytes(Pace &pace, std::int64_t bytes);
    // The end of a transfer: the final progress, the socket closed when asked; returns `ok` unless
    // a stop came.
    bool finishPace(Pace &pace, bool ok, bool closeWhenDone);
    void closeKeepingError();
    bool receiveHeader(ResponseFilter &filter, std::string &leftover, Pace &pace);
    bool receiveBody(int fileFd, ResponseFilter *filter, std::string &leftover, Pace &pace);
    bool sendFileBody(int fileFd, Pace &pace);
    // Sleeps up to timeoutMs unless a stop request comes first; false on a stop.
    bool pauseUnlessStopped(int timeoutMs);
    void dropSocket();
    // Resolves `host`, ending at a stop (the look-up then finishes on its own and is discarded).
    std::vector<SocketAddress> resolve(const std::string &host, int port);
    // connect() through m_proxy: to the proxy, then the tunnel to `host`.
    bool connectThroughProxy(const std::string &host, int port);
    bool recordProxyFailure(std::int32_t code, const std::string &reason);
    // One connect attempt on a socket of the address's family: 0, a socket error number, or -1 on a stop.
    int connectTo(const SocketAddress &address);
    // Waits for a started connect: 0, a socket error number, or -1 on a stop.
    int connectOutcome();
    void closeSocketAfterFailure(int socketError);
    // Before a read or write: no stop pending (else it is recorded) and a socket to use.
    bool mayMoveBytes();

    StopSignal m_ownStop;
    StopSignal &m_stop; // m_ownStop or the shared one

    mutable std::mutex m_errorLock;
    ErrorCode m_error; // guarded by m_errorLock

    // Owner thread only.
    FtpReplyReader m_replies;
    HostResolver m_resolver = nullptr;
    ProxyRoute m_proxy;
    std::string m_tunnelHost; // the far end of the open tunnel, empty without one
    int m_tunnelPort = 0;
    int m_connectTimeoutMs = 60000;
    int m_minSpeed = 0;
    int m_minSpeedGrace = 0; // seconds
    bool m_appendMode = false;
    std::int64_t m_writeOffset = -1;
    bool m_endConfirmed = false;
    RateLimiter *m_rateLimiter = nullptr;
    SpeedLimits *m_speedLimits = nullptr;
    TcpStream m_tcp{m_stop};
    std::unique_ptr<ByteStream> m_layer;

    // Read by other threads (progress shown elsewhere, the state of the socket).
    std::atomic<std::int64_t> m_bytesDone{0};
    std::atomic<std::int64_t> m_totalSize{0};
    std::atomic<std::int64_t> m_resumeOffset{0};
    std::atomic<int> m_currentSpeed{0};
    std::atomic<bool> m_stalled{false};
    std::atomic<SocketState> m_state{SocketState::None};
    std::atomic<const platform::Clock *> m_clock;
};

} // namespace bw::net
