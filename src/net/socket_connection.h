// SPDX-License-Identifier: MIT
// One TCP stream socket with deadline-bound calls, line splitting for text protocols, and a private
// worker thread that moves file data (send a text, send a file, receive into a file) while the owner
// polls. The owner's thread drives the socket; any thread may write a stop request into the record.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>

#include "core/worker_thread.h"
#include "net/error_code.h"
#include "platform/auto_reset_event.h"
#include "platform/clock.h"

namespace bw::net {

class SocketConnection : public core::WorkerThread
{
public:
    // Connection states.
    enum SocketState : int
    {
        StateNone = 0,
        StateCreated = 1, // created, bound, or a connect failed
        StateConnecting = 2,
        StateConnected = 3,
        StateListening = 4,
        StateClosing = 5,
    };

    // Kinds of worker jobs.
    enum JobKind : int
    {
        JobNone = 0,
        JobSendText = 1,
        JobSendFile = 2,
        JobReceiveFile = 3,
    };

    // Direction arguments of `shutdown`.
    enum ShutdownHow : int
    {
        ShutdownReceive = 0,
        ShutdownSend = 1,
        ShutdownBoth = 2,
    };

    // A control line longer than this ends the connection with an error.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    // A reply (all its continuation lines) longer than this ends the connection with an error too.
    static constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
    // A response header longer than this fails the receive job.
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

    // The worker thread starts with the first job and then waits idle for the next.
    SocketConnection();
    ~SocketConnection() override;

    // Socket operations. Each clears the record on entry, records a failing call with its socket error
    // number and returns true when the record is clear at the end.
    bool createSocket(int type = 1 /* SOCK_STREAM */, int protocol = 0);
    bool createAndBind(int port);
    // Dotted address first, then a name look-up (first IPv4 address). An unknown name records 10022.
    bool connect(const std::string &host, int port);
    bool listen(int backlog);
    // Waits up to `seconds` for a connection on this listening socket and accepts it into `target`.
    // A time-out returns false without an error.
    bool acceptInto(SocketConnection &target, int seconds);
    bool close();
    bool shutdown(int how);
    bool waitWritable(int seconds);
    bool waitReadable(int seconds);
    // Waits in slices of 5 seconds until readable, a failure, `seconds` used up (0: no limit) or a stop.
    bool waitReadableSliced(int seconds);
    // Sends only what the socket takes at once; a full socket succeeds with 0 bytes. len -1: strlen.
    bool sendWhenWritable(const char *data, std::int64_t len, std::int64_t &sent);
    // Sends without testing writability first (the socket stays non-blocking: a full socket sends 0).
    bool sendDirect(const char *data, std::int64_t len, std::int64_t &sent);
    // Reads what is ready at once; nothing ready succeeds with 0 bytes. A peer close closes the socket
    // and returns false with a clear record.
    bool receive(char *buffer, std::int64_t size, std::int64_t &got);
    bool localAddress(std::string &text, int &port);

    // Line reception. False when a line grew past kMaxLineBytes (the partial line is dropped).
    bool splitLines(const char *chunk, std::size_t length);
    std::string popLine();
    bool hasLines() const;
    // The code of a final reply line ("220 Ready" gives 220), -1 for any other line.
    static int replyCode(const std::string &line);
    // Reads lines until a final reply line; every line read goes to `sink` when given. -1 on a
    // time-out or failure. Lines after the code line stay queued.
    int readReply(int seconds, std::deque<std::string> *sink);

    // Worker jobs.
    bool beginSendText(const std::string &text, bool closeWhenDone);
    bool sendText(const std::string &text, bool closeWhenDone);
    bool beginSendFile(const std::string &path, bool binary, std::int64_t offset, bool closeWhenDone);
    bool beginReceiveFile(const std::string &path, bool binary, bool closeWhenDone);
    // True when no job runs (the idle signal stays set).
    bool isIdle();
    // Waits at most timeoutMs for the worker to be idle; true when it is (the idle signal stays set).
    bool waitIdle(int timeoutMs);

    // The record, as a copy. Stop requests may be written from any thread.
    ErrorCode error() const;
    void clearError();
    // Clears the record unless it holds a stop request; false (record untouched) when it does.
    bool clearErrorUnlessStopped();
    void setError(std::uint32_t category, std::int32_t code);
    void setError(const ErrorCode &record);
    void recordSocketError(int socketErrorNumber);
    void setLocalError(std::int32_t code);
    void setStopError(std::int32_t code);
    bool isStopRequested() const;
    void setErrorStatus(std::int32_t status);
    void setErrorDetail(std::string detail);

    int state() const { return m_state.load(); }

    bool hasSocket() const { return m_sock.load() >= 0; }

    bool isConnected() const { return m_state.load() == StateConnected; }

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

    int jobKind() const { return m_jobKind.load(); }

    // Back to the fresh state: no socket, no stop, no limits, counters 0.
    void reset();

    // The clock behind stall times; tests inject a manual one. Not owned.
    void setClock(const platform::Clock *clock);

    const platform::Clock &clock() const { return *m_clock.load(); }

protected:
    int Run() override;
    // Ends the worker thread (a running job is stopped with `Exiting`). Derived classes call this first
    // in their destructor, so the worker never runs on a half-destroyed object.
    void stopWorker();

    // Reads the response header of the receive job when `expectHeader` is set. Called with the bytes
    // received so far: consumes whole header lines from the front of `chunk` (a partial line and any
    // body bytes stay), clears `headerOpen` at the blank line, and returns the status found in this
    // chunk or -1. It may set the total size and the record's detail. The base knows no header.
    virtual int parseResponseHeader(std::string &chunk, bool &headerOpen);
    // Sees each block of the body of such a response before it is written: may shrink it in place
    // (`length`, e.g. to undo a transfer encoding), set `bodyEnded` when the body is complete, or return
    // false to fail the job. The base passes everything and never ends the body.
    virtual bool filterResponseBody(char *data, std::int64_t &length, bool &bodyEnded);

private:
    bool beginFileJob(
        int kind, const std::string &path, bool binary, std::int64_t offset, bool closeWhenDone);
    void release();
    void runSendText();
    void runSendFile();
    void runReceiveFile();
    bool receiveHeader(std::string &leftover);
    bool sendFileBody(int fileFd, int maxSpeed, int minSpeed);
    // The speed rule; false when the job must end (stop, or too slow).
    bool applySpeedRule(std::chrono::steady_clock::time_point start, int maxSpeed, int minSpeed);
    void setStalled(bool stalled);
    void addBytesDone(std::int64_t bytes);
    void setResult(bool ok);
    void closeKeepingError();
    bool jobStopped() const;
    // poll() on the socket and the wake descriptor. 1 ready, 0 time-out, -1 failure (errno kept),
    // -2 stop request.
    int pollSocket(short events, int timeoutMs);
    void wake();
    void drainWake();
    void closeSocketAfterFailure(int socketError);

    mutable std::mutex m_errorLock;
    ErrorCode m_error; // guarded by m_errorLock
    std::atomic<bool> m_stopFlag{false};
    std::atomic<bool> m_wakePending{false}; // the wake descriptor holds a count; changed under m_errorLock

    mutable std::mutex m_lineLock;
    std::deque<std::string> m_lineQueue; // guarded by m_lineLock
    std::string m_partialLine; // guarded by m_lineLock
    bool m_afterBreak = false; // the last chunk ended in a line break; guarded by m_lineLock

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

    platform::AutoResetEvent m_workEvent;
    platform::AutoResetEvent m_idleEvent{true};
    std::once_flag m_workerStarted;

    std::atomic<int> m_sock{-1};
    std::atomic<int> m_state{StateNone};
    std::atomic<int> m_jobKind{JobNone};
    int m_wakeFd = -1; // eventfd: written by a stop request, polled beside the socket
    std::filesystem::path m_tempDir;
    std::atomic<const platform::Clock *> m_clock;
};

} // namespace bw::net
