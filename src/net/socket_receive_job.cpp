// SPDX-License-Identifier: MIT
// The receive job of SocketConnection's worker: an optional response header read through a filter,
// then the body into a file, appended for a resume.
#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "net/rate_limiter.h"
#include "net/socket_connection.h"
#include "net/socket_job_shape.h"
#include "platform/socket_errors.h"
#include "platform/unique_fd.h"

namespace bw::net {

using namespace jobs;

namespace {

constexpr int kHeaderWaitSeconds = 60;

bool writeAll(int fd, const char *data, std::int64_t length)
{
    while (length > 0) {
        ssize_t n = ::write(fd, data, static_cast<std::size_t>(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= n;
    }
    return true;
}

// Moves body bytes from a socket into a file through a pipe, so they never come up to user space.
// Closes itself when the kernel cannot splice these descriptors; the job then reads and writes.
class SplicePipe
{
public:
    enum class Result
    {
        Moved,
        WouldBlock,
        Unsupported,
        PeerClosed,
        SocketFailed,
        FileFailed,
    };

    SplicePipe(int socketFd, int fileFd)
        : m_socket(socketFd)
        , m_file(fileFd)
    {
        int fds[2];
        if (socketFd < 0 || ::pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_read.reset(fds[0]);
        m_write.reset(fds[1]);
        // Room for a whole block; a smaller pipe only means more calls.
        ::fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(kBlockBytes));
    }

    bool isOpen() const { return m_read.isOpen(); }

    int errorNumber() const { return m_errno; }

    // Moves up to `limit` bytes that are ready on the socket into the file; `moved` says how many.
    Result move(std::int64_t limit, std::int64_t &moved)
    {
        moved = 0;
        ssize_t n;
        do {
            n = ::splice(m_socket, nullptr, m_write.get(), nullptr, static_cast<std::size_t>(limit),
                SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        } while (n < 0 && errno == EINTR);
        if (n == 0)
            return Result::PeerClosed;
        if (n < 0) {
            m_errno = errno;
            if (m_errno == EAGAIN || m_errno == EWOULDBLOCK)
                return Result::WouldBlock;
            if ((m_errno == EINVAL || m_errno == ENOSYS) && !m_used) {
                close();
                return Result::Unsupported;
            }
            return Result::SocketFailed;
        }
        m_used = true;
        moved = n;
        return drainToFile(n) ? Result::Moved : Result::FileFailed;
    }

private:
    bool drainToFile(std::int64_t length)
    {
        while (length > 0) {
            const ssize_t n = ::splice(
                m_read.get(), nullptr, m_file, nullptr, static_cast<std::size_t>(length), SPLICE_F_MOVE);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EINVAL || errno == ENOSYS) && !m_fileTaken)
                return copyToFile(length); // a file system without splice: through a buffer
            if (n <= 0)
                return false;
            m_fileTaken = true;
            length -= n;
        }
        return true;
    }

    bool copyToFile(std::int64_t length)
    {
        char chunk[64 * 1024];
        while (length > 0) {
            const ssize_t n = ::read(
                m_read.get(), chunk, static_cast<std::size_t>(std::min<std::int64_t>(length, sizeof chunk)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || !writeAll(m_file, chunk, n))
                return false;
            length -= n;
        }
        return true;
    }

    void close()
    {
        m_read.reset();
        m_write.reset();
    }

    int m_socket;
    int m_file;
    platform::UniqueFd m_read;
    platform::UniqueFd m_write;
    int m_errno = 0;
    bool m_used = false;
    bool m_fileTaken = false;
};

// A response read without a filter has no header the job could read: it counts as one without status.
class NoHeaderFilter final : public ResponseFilter
{
public:
    int parseHeader(std::string &chunk, bool &headerOpen) override
    {
        chunk.clear();
        headerOpen = false;
        return -1;
    }

    bool filterBody(char *, std::int64_t &, bool &) override { return true; }
};

} // namespace

// ---- receive file ----

bool SocketConnection::receiveHeader(ResponseFilter &filter, std::string &leftover)
{
    int status = -1;
    bool headerOpen = true;
    char chunk[4096];
    while (status == -1 || headerOpen) {
        if (!waitReadableSliced(kHeaderWaitSeconds))
            break;
        std::int64_t got = 0;
        if (!receive(chunk, sizeof chunk, got)) {
            if (!error().isStop())
                setLocalError(SocketReadError);
            setErrorStatus(status);
            return false;
        }
        leftover.append(chunk, static_cast<std::size_t>(got));
        const int found = filter.parseHeader(leftover, headerOpen);
        if (status == -1)
            status = found;
        if (status == -1 && !headerOpen) {
            // The header ended without a status line: whatever follows is no response body, and
            // waiting for a status would buffer all of it.
            break;
        }
        if (leftover.size() > kMaxHeaderBytes && (headerOpen || status == -1)) {
            // A header line without end.
            setLocalError(SocketReadError);
            setErrorStatus(status);
            return false;
        }
    }
    setAppendMode(status == 206);
    setErrorStatus(status);
    return status >= 200 && status <= 299;
}

void SocketConnection::runReceiveFile()
{
    const int minSpeed = effectiveMinSpeed();
    int maxSpeed;
    std::string path;
    bool closeWhenDone;
    bool expectHeader;
    ResponseFilter *filter;
    {
        std::lock_guard lock{m_stateLock};
        maxSpeed = m_maxSpeed;
        path = m_filePath;
        closeWhenDone = m_closeWhenDone;
        expectHeader = m_expectHeader;
        filter = m_filter;
        m_bytesDone = 0;
    }
    NoHeaderFilter noHeader;
    if (expectHeader && !filter)
        filter = &noHeader;
    if (!expectHeader)
        filter = nullptr;
    std::string leftover;
    bool ok = true;
    if (filter)
        ok = receiveHeader(*filter, leftover);
    platform::UniqueFd file;
    if (ok) {
        const bool append = appendMode();
        // Appending seeks to the end instead of O_APPEND, which splice refuses.
        file.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? 0 : O_TRUNC), 0644));
        if (!file.isOpen()) {
            setLocalError(FileWriteError);
            ok = false;
        } else {
            std::int64_t length = append ? ::lseek(file.get(), 0, SEEK_END) : 0;
            std::lock_guard lock{m_stateLock};
            m_resumeOffset = std::max<std::int64_t>(length, 0);
            m_bytesDone = m_resumeOffset;
        }
    }
    if (ok)
        ok = receiveBody(file.get(), filter, leftover, maxSpeed, minSpeed);
    setStalled(false);
    if (file.isOpen() && file.reset() != 0 && ok) {
        setLocalError(FileWriteError);
        ok = false;
    }
    if (jobStopped())
        ok = false;
    {
        std::lock_guard lock{m_stateLock};
        m_filePath.clear();
        m_appendMode = false;
    }
    if (closeWhenDone)
        closeKeepingError();
    setResult(ok);
}

bool SocketConnection::receiveBody(
    int fileFd, ResponseFilter *filter, std::string &leftover, int maxSpeed, int minSpeed)
{
    FileJobShape shape = shapeFor(maxSpeed);
    SpeedCheck check = beginSpeedCheck(minSpeed);
    setStalled(false);
    bool stalled = false;
    std::unique_ptr<char[]> buffer;
    int blocks = 0;
    RateLimiter::Ticket ticket = joinRateLimiter();
    // A plain TCP socket splices straight into the file; an encrypting layer needs read(), and so does
    // a file known to be small, where making the pipe costs more than the copy it saves.
    const std::int64_t expected = totalSize();
    const bool small = expected > 0 && expected <= kSmallFileBytes;
    SplicePipe pipe(m_layer || small ? -1 : m_tcp.fd(), fileFd);
    if (small)
        shape.blockBytes = std::min(shape.blockBytes, kSmallFileBytes);
    // The peer closed (the normal end) or the socket failed. A reset ends an FTP data transfer (its
    // closing reply judges it), but an HTTP body that runs to the close is only whole when the close
    // is orderly.
    auto dataEnded = [&] {
        const ErrorCode record = error();
        const bool resetEndsData = !filter && record.is(CatSocket, platform::kSocketConnectionReset);
        if (record.isSet() && !record.isStop() && !resetEndsData) {
            setLocalError(SocketReadError);
            return false;
        }
        return true;
    };
    while (!jobStopped()) {
        std::int64_t got = 0;
        bool inFile = false; // spliced: the bytes are in the file already
        const std::int64_t unseen =
            filter ? filter->bytesPassableUnseen() : std::numeric_limits<std::int64_t>::max();
        if (leftover.empty() && pipe.isOpen() && unseen > 0) {
            const std::int64_t allowed = throttle(ticket, std::min(shape.blockBytes, unseen), check);
            if (allowed == 0)
                break;
            const SplicePipe::Result moved = pipe.move(allowed, got);
            ticket.refund(allowed - got);
            switch (moved) {
            case SplicePipe::Result::Moved:
                inFile = true;
                break;
            case SplicePipe::Result::WouldBlock:
                break;
            case SplicePipe::Result::Unsupported:
                continue; // the pipe closed itself: read() from now on
            case SplicePipe::Result::PeerClosed:
                dropSocket();
                return true;
            case SplicePipe::Result::SocketFailed:
                closeSocketAfterFailure(platform::socketErrorFromErrno(pipe.errorNumber()));
                return dataEnded();
            case SplicePipe::Result::FileFailed:
                setLocalError(FileWriteError);
                return false;
            }
        } else if (leftover.empty()) {
            if (!buffer)
                buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(shape.blockBytes));
            const std::int64_t allowed = throttle(ticket, shape.blockBytes, check);
            if (allowed == 0)
                break;
            const bool received = receive(buffer.get(), allowed, got);
            ticket.refund(allowed - got);
            if (!received)
                return dataEnded();
        } else {
            got = static_cast<std::int64_t>(leftover.size());
        }
        if (++blocks % shape.blocksPerCheck == 0 && !applySpeedRule(check, maxSpeed))
            return false;
        if (got > 0) {
            if (stalled) {
                setStalled(false);
                stalled = false;
            }
            bool bodyEnded = false;
            if (inFile) {
                if (filter)
                    filter->passedUnseen(got, bodyEnded);
            } else {
                char *data = leftover.empty() ? buffer.get() : leftover.data();
                // The HTTP client sees the body first: it undoes a transfer encoding and says where
                // the body ends (a kept-alive connection would otherwise hold the job).
                if (filter && !filter->filterBody(data, got, bodyEnded)) {
                    setLocalError(SocketReadError);
                    return false;
                }
                if (!writeAll(fileFd, data, got)) {
                    setLocalError(FileWriteError);
                    return false;
                }
                leftover.clear();
            }
            addBytesDone(got);
            if (bodyEnded)
                return true;
            continue;
        }
        if (!stalled) {
            setStalled(true);
            stalled = true;
        }
        if (stream().wait(StreamInterest::Read, kStallWaitMs) == WaitResult::Stopped)
            break;
        if (stalledTooLong()) {
            setStopError(DataIdleTimeout);
            break;
        }
    }
    return true;
}

} // namespace bw::net
