// SPDX-License-Identifier: MIT
// SocketConnection's file receive, on the owner's thread: an optional response header read through a
// filter, then the body into a file (spliced on plain TCP), appended for a resume.
#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "net/socket_job_shape.h"
#include "net/stream_digest.h"
#include "platform/socket_errors.h"
#include "platform/unique_fd.h"

namespace bw::net {

using namespace jobs;

namespace {

// A server that sends no header byte for this long gets no longer wait.
constexpr std::int64_t kHeaderWaitMs = 60 * 1000;

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

} // namespace

// ---- receive file ----

bool SocketConnection::receiveHeader(ResponseFilter &filter, std::string &leftover, Pace &pace)
{
    int status = -1;
    bool headerOpen = true;
    char chunk[4096];
    while (status == -1 || headerOpen) {
        const WaitResult ready = stream().wait(StreamInterest::Read, kStallWaitMs);
        if (ready == WaitResult::Stopped) {
            recordStop();
            setErrorStatus(status);
            return false;
        }
        if (ready == WaitResult::Failed) {
            recordSocketError(platform::socketErrorFromErrno(errno));
            break;
        }
        if (ready == WaitResult::TimedOut) {
            if (!waitStalled(pace, StreamInterest::Read)) {
                setErrorStatus(status);
                return false;
            }
            if (clock().monotonicMilliseconds() - pace.stallStartMs > kHeaderWaitMs)
                break; // a silent server: no header
            continue;
        }
        std::int64_t got = 0;
        if (!receive(chunk, sizeof chunk, got)) {
            if (!error().isStop())
                setLocalError(SocketReadError);
            setErrorStatus(status);
            return false;
        }
        movedBytes(pace, 0);
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
    return status >= 200 && status <= 299 && filter.mayReceiveBody();
}

bool SocketConnection::receiveFile(
    const std::string &path, bool closeWhenDone, const TransferWatch &watch, ResponseFilter *filter)
{
    clearError();
    m_bytesDone.store(0, std::memory_order_relaxed);
    Pace pace = beginPace(watch);
    // Waiting for a header is no slow transfer: the minimum speed starts with the body.
    pace.minimum = MinSpeedWatch(0, 0, pace.startMs, 0);
    std::string leftover;
    bool ok = !m_stop.isSet() || recordStop();
    if (ok && filter)
        ok = receiveHeader(*filter, leftover, pace);
    platform::UniqueFd file;
    if (ok) {
        const bool append = appendMode();
        const bool placed = m_writeOffset >= 0; // one segment of a file several connections fill
        // Appending seeks to the end instead of O_APPEND, which splice refuses. A symbolic link in place
        // of the file is never followed: it could point at any file of the user's.
        // A digest reads the part a resume keeps through the same descriptor.
        const int access = watch.digest && watch.digest->isActive() ? O_RDWR : O_WRONLY;
        file.reset(::open(path.c_str(),
            access | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (append || placed ? 0 : O_TRUNC), 0644));
        if (!file.isOpen() || (placed && ::lseek(file.get(), m_writeOffset, SEEK_SET) != m_writeOffset)) {
            setLocalError(FileWriteError);
            ok = false;
        } else {
            const std::int64_t length = placed
                ? m_writeOffset
                : std::max<std::int64_t>(append ? ::lseek(file.get(), 0, SEEK_END) : 0, 0);
            m_resumeOffset.store(length, std::memory_order_relaxed);
            m_bytesDone.store(length, std::memory_order_relaxed);
            // The digest covers the whole file: the kept part is read once, before the new bytes.
            StreamDigest *digest = watch.digest;
            if (digest && digest->isActive() && !digest->restartWithFileHead(file.get(), length)) {
                setLocalError(FileWriteError);
                ok = false;
            }
        }
    }
    if (ok)
        ok = receiveBody(file.get(), filter, leftover, pace);
    if (file.isOpen() && file.reset() != 0 && ok) {
        setLocalError(FileWriteError);
        ok = false;
    }
    m_appendMode = false;
    return finishPace(pace, ok, closeWhenDone);
}

bool SocketConnection::receiveBody(int fileFd, ResponseFilter *filter, std::string &leftover, Pace &pace)
{
    pace.startMs = clock().monotonicMilliseconds();
    pace.startBytes = bytesDone();
    pace.minimum = MinSpeedWatch(effectiveMinSpeed(), m_minSpeedGrace, pace.startMs, pace.startBytes);
    std::int64_t blockBytes = kBlockBytes;
    std::unique_ptr<char[]> buffer;
    // A plain TCP socket splices straight into the file; an encrypting layer needs read(), and so does
    // a file known to be small, where making the pipe costs more than the copy it saves.
    const std::int64_t expected = totalSize();
    const bool small = expected > 0 && expected <= kSmallFileBytes;
    // A digest must see the bytes, so they come up to user space.
    StreamDigest *digest = pace.watch.digest && pace.watch.digest->isActive() ? pace.watch.digest : nullptr;
    SplicePipe pipe(m_layer || small || digest ? -1 : m_tcp.fd(), fileFd);
    if (small)
        blockBytes = kSmallFileBytes;
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
    while (!m_stop.isSet()) {
        std::int64_t got = 0;
        bool inFile = false; // spliced: the bytes are in the file already
        // With a bound, one byte past it tells that the data goes on, and ends the receive.
        const std::int64_t block = pace.watch.byteLimit > 0
            ? std::min(blockBytes, pace.watch.byteLimit + 1 - bytesDone())
            : blockBytes;
        const std::int64_t unseen =
            filter ? filter->bytesPassableUnseen() : std::numeric_limits<std::int64_t>::max();
        if (leftover.empty() && pipe.isOpen() && unseen > 0) {
            const std::int64_t allowed = throttle(pace, std::min(block, unseen));
            if (allowed == 0)
                break;
            const SplicePipe::Result moved = pipe.move(allowed, got);
            pace.ticket.refund(allowed - got);
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
                buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(blockBytes));
            const std::int64_t allowed = throttle(pace, block);
            if (allowed == 0)
                break;
            const bool received = receive(buffer.get(), allowed, got);
            pace.ticket.refund(allowed - got);
            if (!received)
                return dataEnded();
        } else {
            got = static_cast<std::int64_t>(leftover.size());
        }
        if (++pace.blocks % kBlocksPerCheck == 0 && !checkpoint(pace))
            return false;
        if (got > 0) {
            if (pace.watch.byteLimit > 0 && bytesDone() + got > pace.watch.byteLimit) {
                setError(CatProtocol, ListingTooLarge);
                return false;
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
                if (digest)
                    digest->update(data, static_cast<std::size_t>(got));
                if (!writeAll(fileFd, data, got)) {
                    setLocalError(FileWriteError);
                    return false;
                }
                leftover.clear();
            }
            movedBytes(pace, got);
            if (bodyEnded)
                return true;
            continue;
        }
        if (!waitStalled(pace, StreamInterest::Read))
            return false;
    }
    return recordStop();
}

} // namespace bw::net
