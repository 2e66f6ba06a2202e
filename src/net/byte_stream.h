// SPDX-License-Identifier: MIT
// The seam under the FTP control and data connections and HTTP: a connected byte stream that never
// blocks in read or write, and waits with a deadline that a stop request ends at once. Plain TCP is
// one implementation; an encrypting stream is layered on a connected one (see byte_stream.md).
// Used by the thread that owns the connection at the time.
#pragma once

#include <cstdint>

namespace bw::net {

// What a stream needs before it can go on.
enum class StreamInterest
{
    Read,
    Write,
};

enum class ShutdownDirection : int
{
    Receive = 0,
    Send = 1,
    Both = 2,
};

enum class WaitResult
{
    Ready,
    TimedOut,
    Failed, // errno says why
    Stopped, // the connection's stop request was set
};

struct IoResult
{
    enum class Status
    {
        Moved, // `bytes` bytes were read or written (more than 0)
        WouldBlock, // nothing now: wait for `wants`, then try again
        Closed, // the peer closed in order (read only)
        Failed, // `errorNumber` (an errno value) says why
    };

    Status status = Status::Failed;
    std::int64_t bytes = 0;
    int errorNumber = 0;
    // An encrypting stream may need to read before it can write and the other way round.
    StreamInterest wants = StreamInterest::Read;
    // Closed: the stream's own end mark came before the close (TLS close_notify). A plain TCP close
    // has no mark beyond itself and always sets it.
    bool endConfirmed = true;
};

class ByteStream
{
public:
    virtual ~ByteStream() = default;

    virtual IoResult read(char *buffer, std::int64_t size) = 0;
    // Sends without raising SIGPIPE; a full socket gives WouldBlock.
    virtual IoResult write(const char *data, std::int64_t size) = 0;
    // Waits up to timeoutMs (0: just look) for `interest`; EINTR is retried, a stop ends it at once.
    virtual WaitResult wait(StreamInterest interest, int timeoutMs) = 0;
    // Result of shutdown(2): 0, or the errno value.
    virtual int shutdown(ShutdownDirection direction) = 0;
    // Closes the stream; 0, or the errno value of a failed close.
    virtual int close() = 0;
    virtual bool isOpen() const = 0;

    // A plain descriptor that sendfile or splice may write to or read from directly, or -1 when bytes
    // must pass through read() and write() (an encrypting stream without kernel TLS).
    virtual int zeroCopyFd() const = 0;
};

} // namespace bw::net
