// SPDX-License-Identifier: MIT
// src/net (bw_net): byte streams, the socket layer, the FTP and HTTP clients, the listing parser. May use
// core, platform and OpenSSL; never engine or Qt.
//
// One TCP connection with deadline-bound calls over a ByteStream, the FTP reply reader of a control
// connection, and a private worker thread that moves file data (send a text, send a file, receive into
// a file) while the owner polls. The owner's thread drives it; any thread may write a stop request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "core/worker_thread.h"
#include "net/byte_stream.h"
#include "net/error_code.h"
#include "net/ftp_reply_reader.h"
#include "net/host_addresses.h"
#include "net/min_speed_watch.h"
#include "net/rate_limiter.h"
#include "net/speed_limits.h"
#include "net/stop_signal.h"
#include "net/tcp_stream.h"
#include "platform/auto_reset_event.h"
#include "platform/clock.h"

namespace bw::net {

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

enum class JobKind : int
{
    None = 0,
    SendText = 1,
    SendFile = 2,
    ReceiveFile = 3,
};

// Reads a response header and sees the body of a receive job (the HTTP client). Called on the
// worker thread while the job runs.
class ResponseFilter
{
public:
    virtual ~ResponseFilter() = default;
    // Called with the bytes received so far: consumes whole header lines from the front of `chunk`
    // (a partial line and any body bytes stay), clears `headerOpen` at the blank line, and returns the
    // status found in this chunk or -1.
    virtual int parseHeader(std::string &chunk, bool &headerOpen) = 0;
    // Sees each body block before it is written: may shrink it in place (`length`, e.g. to undo a
    // transfer encoding), set `bodyEnded` when the body is complete, or return false to fail the job.
    virtual bool filterBody(char *data, std::int64_t &length, bool &bodyEnded) = 0;

    // How many body bytes from here on may go to the file unseen (spliced), reported afterwards
    // through passedUnseen: 0 while every byte must pass filterBody (a transfer encoding).
    virtual std::int64_t bytesPassableUnseen() { return 0; }

    virtual void passedUnseen(std::int64_t /*length*/, bool & /*bodyEnded*/) {}
};

enum class IpFamily : int
{
    V4 = 0,
    V6 = 1,
};

class SocketConnection final : public core::WorkerThread
{
public:
    // A control line longer than this ends the connection with an error.
    static constexpr std::size_t kMaxLineBytes = FtpReplyReader::kMaxLineBytes;
    // A reply (all its continuation lines) longer than this ends the connection with an error too.
    static constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
    // A response header longer than this fails the receive job.
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

    // The worker thread starts with the first job and then waits idle for the next.
    SocketConnection();
    ~SocketConnection() override;

    // Socket operations. Each clears the record on entry, records a failing call with its socket error
    // number and returns true when the record is clear at the end.
    bool createSocket();
    // Binds to every local address of the family (IPv4 unless told otherwise).
    bool createAndBind(int port, IpFamily family = IpFamily::V4);
    // Tries every address of `host` (IPv6 and IPv4, in the resolver's order) until one connects; each
    // attempt is bounded by the connect time-out and a stop ends them all. An unknown name records
    // 10022; when every attempt fails, the last attempt's error is kept.
    bool connect(const std::string &host, int port);
    void setConnectTimeoutSeconds(int seconds);
    // A connect in two halves, so the caller can send something meanwhile: beginConnect starts it to
    // the first address of `host` (true when it is under way or done), finishConnect waits for it
    // with the connect time-out (true when connected).
    bool beginConnect(const std::string &host, int port);
    bool finishConnect();

    // Replaces the name look-up (tests); nullptr restores it. Owner thread.
    void setResolver(HostResolver resolver) { m_resolver = resolver; }

    bool listen(int backlog);
    // Waits up to `seconds` (or `limit`) for a connection on this listening socket and accepts it into
    // `target`. A time-out returns false without an error; a stop request, also one written before the
    // call, returns false at once and stays set.
    bool acceptInto(SocketConnection &target, int seconds);
    bool acceptInto(SocketConnection &target, std::chrono::milliseconds limit);
    bool close();
    bool shutdown(ShutdownDirection direction);
    bool waitWritable(int seconds);
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
    bool localAddress(std::string &text, int &port);
    // The address of the other end as text ("192.0.2.7", "::1"); empty when not connected.
    std::string peerAddress() const;
    // The port of the other end; 0 when not connected.
    int peerPort() const;
    // True when the socket talks IPv6.
    bool isIpv6() const;

    // The stream bytes move through: the TCP socket, or a layer installed on it.
    ByteStream &stream();
    // Installs a layer (e.g. encryption) built on the connected TCP stream; owner thread, worker idle.
    void setStreamLayer(std::unique_ptr<ByteStream> layer);

    TcpStream &tcpStream() { return m_tcp; }

    // Control replies: lines received on this connection and read by readReply.
    FtpReplyReader &replyReader() { return m_replies; }

    // Reads lines until a reply is complete; every line read goes to `sink` when given. -1 on a
    // time-out or failure. Lines after the reply stay queued.
    int readReply(int seconds, std::deque<std::string> *sink);

    // Worker jobs.
    bool beginSendText(const std::string &text, bool closeWhenDone);
    bool sendText(const std::string &text, bool closeWhenDone);
    bool beginSendFile(const std::string &path, bool binary, std::int64_t offset, bool closeWhenDone);
    // With a filter and expectHeader set, the job first reads a response header through the filter,
    // and the filter sees the body. The filter is borrowed until the job ends.
    bool beginReceiveFile(
        const std::string &path, bool binary, bool closeWhenDone, ResponseFilter *filter = nullptr);
    // The file jobs run on the calling thread, which waits for them anyway: for a small file the
    // hand-off to the worker and back costs more than the transfer. Such a job watches its own stalls:
    // nothing moved for longer than `stallLimitSeconds` ends it with DataIdleTimeout. When the worker
    // is still busy, the job goes to the worker behind it instead (the caller polls as usual).
    void receiveFileHere(const std::string &path, bool binary, bool closeWhenDone, int stallLimitSeconds);
    void sendFileHere(
        const std::string &path, bool binary, std::int64_t offset, bool closeWhenDone, int stallLimitSeconds);
    // True when no job runs (the idle signal stays set).
    bool isIdle();
    // Waits at most timeoutMs for the worker to be idle; true when it is (the idle signal stays set).
    bool waitIdle(int timeoutMs);
    // Ends the worker thread (a running job is stopped with `Exiting`).
    void stopWorker();

    // The record, as a copy. Stop requests may be written from any thread.
    ErrorCode error() const;
    void clearError();
    // Clears the record unless it holds a stop request; false (record untouched) when it does.
    bool clearErrorUnlessStopped();
    void setError(ErrorCategory category, std::int32_t code);
    void setError(const ErrorCode &record);
    void recordSocketError(int socketErrorNumber);
    void setLocalError(std::int32_t code);
    void setStopError(std::int32_t code);
    bool isStopRequested() const;
    void setErrorStatus(std::int32_t status);
    void setErrorDetail(std::string detail);

    SocketState state() const { return m_state.load(); }

    bool hasSocket() const { return m_tcp.isOpen(); }

    bool isConnected() const { return m_state.load() == SocketState::Connected; }

    // Counters and settings of the file jobs.
    std::int64_t bytesDone() const;
    std::int64_t totalSize() const;
    void setTotalSize(std::int64_t bytes);
    int currentSpeed() const;
    bool isStalled() const;
    // The stall start when stalled, otherwise the current time (whole seconds).
    std::int64_t stallStartOrNow() const;
    int result() const;
    void setMinSpeed(int kBps);
    void setMaxSpeed(int kBps);
    void setExpectHeader(bool expect);
    void setAppendMode(bool append);
    bool appendMode() const;
    std::int64_t resumeOffset() const;
    std::string filePath() const;
    // The shared limit the file jobs ask before each read or write; borrowed, null for none.
    void setRateLimiter(RateLimiter *limiter);
    // The limits all transfers share (their rate limiter, unless one was set above, and their minimum
    // speed, unless this connection has its own); borrowed, null for none. Kept by reset().
    void setSpeedLimits(SpeedLimits *limits);
    // How long a file job may stay below its minimum speed before it fails as too slow (0: at the
    // first slow second). Kept by reset().
    void setMinSpeedGrace(int seconds);

    JobKind jobKind() const { return m_jobKind.load(); }

    // Back to the fresh state: no socket, no stop, no limits, counters 0.
    void reset();

    // The clock behind stall times; tests inject a manual one. Not owned.
    void setClock(const platform::Clock *clock);

    const platform::Clock &clock() const { return *m_clock.load(); }

protected:
    int Run() override;

private:
    bool beginFileJob(JobKind kind, const std::string &path, bool binary, std::int64_t offset,
        bool closeWhenDone, ResponseFilter *filter);
    // Hands the job's settings over (the worker idle).
    void setFileJob(JobKind kind, const std::string &path, bool binary, std::int64_t offset,
        bool closeWhenDone, ResponseFilter *filter);
    void runFileJobHere(JobKind kind, const std::string &path, bool binary, std::int64_t offset,
        bool closeWhenDone, int stallLimitSeconds);
    // For a job run by the owner: true once it has moved nothing for longer than its stall limit.
    bool stalledTooLong() const;
    void release();
    void runSendText();
    void runSendFile();
    void runReceiveFile();
    bool receiveHeader(ResponseFilter &filter, std::string &leftover);
    bool receiveBody(int fileFd, ResponseFilter *filter, std::string &leftover, int maxSpeed, int minSpeed);
    bool sendFileBody(int fileFd, int maxSpeed, int minSpeed);

    // The speed figures of one file job, measured on the injected clock.
    struct SpeedCheck
    {
        std::int64_t startMs;
        MinSpeedWatch minimum;
        std::int64_t heldMs = 0; // time spent waiting for the rate limiter
    };

    // Asks the rate limiter how much of `wanted` may move now, waiting (stop-aware) while it says
    // wait. 0 when the job was stopped meanwhile. Without a limiter everything may move.
    std::int64_t throttle(RateLimiter::Ticket &ticket, std::int64_t wanted, SpeedCheck &check);
    RateLimiter::Ticket joinRateLimiter();
    // The minimum speed a job starting now must keep (its own, else the shared one) and for how long.
    int effectiveMinSpeed() const;
    SpeedCheck beginSpeedCheck(int minSpeed);
    // The speed rule; false when the job must end (stop, or too slow).
    bool applySpeedRule(SpeedCheck &check, int maxSpeed);
    void setStalled(bool stalled);
    void addBytesDone(std::int64_t bytes);
    void setResult(bool ok);
    void closeKeepingError();
    bool jobStopped() const;
    // Sleeps up to timeoutMs unless a stop request comes first; false on a stop.
    bool pauseUnlessStopped(int timeoutMs);
    void dropSocket();
    // One connect attempt on a socket of the address's family: 0, a socket error number, or -1 on a stop.
    int connectTo(const SocketAddress &address);
    // Waits for a started connect: 0, a socket error number, or -1 on a stop.
    int connectOutcome();
    void closeSocketAfterFailure(int socketError);

    mutable std::mutex m_errorLock;
    ErrorCode m_error; // guarded by m_errorLock
    StopSignal m_stop; // set and cleared under m_errorLock, read anywhere

    // Owner thread only.
    FtpReplyReader m_replies;
    HostResolver m_resolver = nullptr;
    int m_connectTimeoutMs = 60000;

    mutable std::mutex m_stateLock;
    std::string m_pendingText; // guarded by m_stateLock
    std::string m_filePath; // guarded by m_stateLock
    std::int64_t m_stallStart = 0; // guarded by m_stateLock
    bool m_stalled = false; // guarded by m_stateLock
    int m_minSpeed = 0; // guarded by m_stateLock
    int m_maxSpeed = 0; // guarded by m_stateLock
    std::int64_t m_totalSize = 0; // guarded by m_stateLock
    std::int64_t m_bytesDone = 0; // guarded by m_stateLock
    int m_result = 0; // guarded by m_stateLock
    int m_currentSpeed = 0; // guarded by m_stateLock
    bool m_expectHeader = false; // guarded by m_stateLock
    bool m_appendMode = false; // guarded by m_stateLock
    std::int64_t m_resumeOffset = 0; // guarded by m_stateLock
    bool m_binaryMode = true; // guarded by m_stateLock
    bool m_closeWhenDone = false; // guarded by m_stateLock
    ResponseFilter *m_filter = nullptr; // guarded by m_stateLock
    RateLimiter *m_rateLimiter = nullptr; // guarded by m_stateLock
    SpeedLimits *m_speedLimits = nullptr; // guarded by m_stateLock
    int m_minSpeedGrace = 0; // seconds; guarded by m_stateLock

    // The stall limit of a job run by the owner (0: the owner watches the worker's job). Written while
    // the worker is idle, read by the thread running the job.
    int m_jobStallLimit = 0;

    platform::AutoResetEvent m_workEvent;
    platform::AutoResetEvent m_idleEvent{true};
    std::once_flag m_workerStarted;

    // Handed between owner and worker with the job events, so one thread uses them at a time.
    TcpStream m_tcp{m_stop};
    std::unique_ptr<ByteStream> m_layer;

    std::atomic<SocketState> m_state{SocketState::None};
    std::atomic<JobKind> m_jobKind{JobKind::None};
    std::atomic<const platform::Clock *> m_clock;
};

} // namespace bw::net
