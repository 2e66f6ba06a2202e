// SPDX-License-Identifier: MIT
// The worker side of SocketConnection: the hand-off between owner and worker, the three jobs (send a
// text, send a file, receive into a file), the speed rule and the stall bookkeeping.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/diagnostic_log.h"
#include "net/log_levels.h"
#include "net/rate_limiter.h"
#include "net/socket_connection.h"
#include "platform/file_util.h"
#include "platform/socket_errors.h"
#include "platform/unique_fd.h"

namespace bw::net {

namespace {

// Data moves in large blocks straight between socket and file; the clock and the speed rule are
// consulted only every few blocks unless a speed limit asks for one look per block.
constexpr std::int64_t kBlockBytes = 512 * 1024;
constexpr int kBlocksPerCheck = 16;
constexpr int kStallWaitMs = 50;
constexpr int kIdleWaitMs = 2000;
constexpr std::size_t kTextPieceBytes = 64 * 1024;
constexpr int kHeaderWaitSeconds = 60;
constexpr int kSpeedPauseMs = 100;

struct FileJobShape
{
    std::int64_t blockBytes = kBlockBytes;
    int blocksPerCheck = kBlocksPerCheck;
};

FileJobShape shapeFor(int maxSpeed)
{
    FileJobShape shape;
    if (maxSpeed > 0) {
        // One second's worth of the limit at most, and a look at the speed after every block.
        shape.blockBytes = std::clamp<std::int64_t>(std::int64_t{maxSpeed} * 1024, 1, kBlockBytes);
        shape.blocksPerCheck = 1;
    }
    return shape;
}

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

} // namespace

// ---- hand-off ----

int SocketConnection::Run()
{
    // The idle signal starts set; the worker sets it again after every job.
    for (;;) {
        m_workEvent.wait();
        if (stopRequested())
            break;
        {
            std::lock_guard lock{m_stateLock};
            m_currentSpeed = 0;
        }
        switch (m_jobKind.load()) {
        case JobKind::SendText:
            runSendText();
            break;
        case JobKind::SendFile:
            runSendFile();
            break;
        case JobKind::ReceiveFile:
            runReceiveFile();
            break;
        case JobKind::None:
            break;
        }
        {
            std::lock_guard lock{m_stateLock};
            m_currentSpeed = 0;
        }
        m_idleEvent.set();
    }
    m_idleEvent.set();
    return 0;
}

void SocketConnection::release()
{
    // The worker starts with the first job, once the whole object (a derived one too) is built.
    std::call_once(m_workerStarted, [this] { start(); });
    clearError();
    {
        std::lock_guard lock{m_stateLock};
        m_bytesDone = 0;
    }
    m_workEvent.set();
}

bool SocketConnection::beginSendText(const std::string &text, bool closeWhenDone)
{
    if (m_state.load() != SocketState::Connected)
        return false;
    m_idleEvent.waitFor(kIdleWaitMs);
    m_jobKind.store(JobKind::SendText);
    {
        std::lock_guard lock{m_stateLock};
        m_pendingText = text;
        m_closeWhenDone = closeWhenDone;
    }
    release();
    return true;
}

bool SocketConnection::sendText(const std::string &text, bool closeWhenDone)
{
    if (!beginSendText(text, closeWhenDone))
        return false;
    m_idleEvent.wait();
    m_idleEvent.set();
    // A send that failed is reported as a failure, not only a send that could not start.
    return result() == 0;
}

bool SocketConnection::beginFileJob(JobKind kind, const std::string &path, bool binary, std::int64_t offset,
    bool closeWhenDone, ResponseFilter *filter)
{
    m_idleEvent.waitFor(kIdleWaitMs);
    m_jobKind.store(kind);
    {
        std::lock_guard lock{m_stateLock};
        m_filePath = path;
        m_binaryMode = binary;
        m_resumeOffset = offset;
        m_closeWhenDone = closeWhenDone;
        m_filter = filter;
    }
    release();
    return true;
}

bool SocketConnection::beginSendFile(
    const std::string &path, bool binary, std::int64_t offset, bool closeWhenDone)
{
    return beginFileJob(JobKind::SendFile, path, binary, offset, closeWhenDone, nullptr);
}

bool SocketConnection::beginReceiveFile(
    const std::string &path, bool binary, bool closeWhenDone, ResponseFilter *filter)
{
    // The receive job learns its offset from the file it appends to.
    return beginFileJob(JobKind::ReceiveFile, path, binary, 0, closeWhenDone, filter);
}

bool SocketConnection::isIdle()
{
    return waitIdle(0);
}

bool SocketConnection::waitIdle(int timeoutMs)
{
    if (!m_idleEvent.waitFor(timeoutMs))
        return false;
    m_idleEvent.set();
    return true;
}

// ---- accessors ----

std::int64_t SocketConnection::bytesDone() const
{
    std::lock_guard lock{m_stateLock};
    return m_bytesDone;
}

std::int64_t SocketConnection::totalSize() const
{
    std::lock_guard lock{m_stateLock};
    return m_totalSize;
}

void SocketConnection::setTotalSize(std::int64_t bytes)
{
    std::lock_guard lock{m_stateLock};
    m_totalSize = bytes;
}

int SocketConnection::currentSpeed() const
{
    std::lock_guard lock{m_stateLock};
    return m_currentSpeed;
}

bool SocketConnection::isStalled() const
{
    std::lock_guard lock{m_stateLock};
    return m_stalled;
}

std::int64_t SocketConnection::stallStartOrNow() const
{
    {
        std::lock_guard lock{m_stateLock};
        if (m_stalled)
            return m_stallStart;
    }
    return clock().nowSeconds();
}

int SocketConnection::result() const
{
    std::lock_guard lock{m_stateLock};
    return m_result;
}

void SocketConnection::setMinSpeed(int kBps)
{
    std::lock_guard lock{m_stateLock};
    m_minSpeed = kBps;
}

void SocketConnection::setMaxSpeed(int kBps)
{
    std::lock_guard lock{m_stateLock};
    m_maxSpeed = kBps;
}

void SocketConnection::setExpectHeader(bool expect)
{
    std::lock_guard lock{m_stateLock};
    m_expectHeader = expect;
}

void SocketConnection::setAppendMode(bool append)
{
    std::lock_guard lock{m_stateLock};
    m_appendMode = append;
}

bool SocketConnection::appendMode() const
{
    std::lock_guard lock{m_stateLock};
    return m_appendMode;
}

std::int64_t SocketConnection::resumeOffset() const
{
    std::lock_guard lock{m_stateLock};
    return m_resumeOffset;
}

void SocketConnection::setRateLimiter(RateLimiter *limiter)
{
    std::lock_guard lock{m_stateLock};
    m_rateLimiter = limiter;
}

std::string SocketConnection::filePath() const
{
    std::lock_guard lock{m_stateLock};
    return m_filePath;
}

void SocketConnection::reset()
{
    dropSocket();
    requestStop(false);
    {
        std::lock_guard lock{m_stateLock};
        m_minSpeed = 0;
        m_maxSpeed = 0;
        m_filePath.clear();
        m_pendingText.clear();
        m_bytesDone = 0;
        m_totalSize = 0;
        m_stalled = false;
        m_appendMode = false;
        m_expectHeader = false;
        m_resumeOffset = 0;
        m_filter = nullptr;
    }
    m_replies.clear();
    clearError();
}

// ---- job helpers ----

bool SocketConnection::jobStopped() const
{
    return m_stop.isSet() || stopRequested();
}

bool SocketConnection::pauseUnlessStopped(int timeoutMs)
{
    // Waits on the wake descriptor, so a stop request ends the pause at once.
    const int wakeFd = m_stop.wakeFd();
    pollfd entry{wakeFd, POLLIN, 0};
    ::poll(&entry, wakeFd >= 0 ? 1 : 0, timeoutMs);
    if (!jobStopped()) {
        m_stop.drainIfCleared();
        return true;
    }
    return false;
}

std::int64_t SocketConnection::throttle(RateLimiter::Ticket &ticket, std::int64_t wanted)
{
    for (;;) {
        const RateLimiter::Grant grant = ticket.acquire(wanted);
        if (grant.bytes > 0)
            return grant.bytes;
        if (!pauseUnlessStopped(grant.waitMs))
            return 0;
    }
}

RateLimiter::Ticket SocketConnection::joinRateLimiter()
{
    std::lock_guard lock{m_stateLock};
    return RateLimiter::Ticket(m_rateLimiter);
}

void SocketConnection::setStalled(bool stalled)
{
    const std::int64_t now = stalled ? clock().nowSeconds() : 0;
    std::lock_guard lock{m_stateLock};
    if (stalled)
        m_stallStart = now;
    m_stalled = stalled;
}

void SocketConnection::addBytesDone(std::int64_t bytes)
{
    std::lock_guard lock{m_stateLock};
    m_bytesDone += bytes;
}

void SocketConnection::setResult(bool ok)
{
    std::lock_guard lock{m_stateLock};
    m_result = ok ? 0 : -1;
}

void SocketConnection::closeKeepingError()
{
    // Closing clears the record; the job's failure must survive it.
    ErrorCode kept = error();
    close();
    if (kept.isSet())
        setError(kept);
}

bool SocketConnection::applySpeedRule(std::chrono::steady_clock::time_point start, int maxSpeed, int minSpeed)
{
    if (jobStopped())
        return false;
    std::int64_t done;
    std::int64_t offset;
    int speed;
    {
        std::lock_guard lock{m_stateLock};
        done = m_bytesDone;
        offset = m_resumeOffset;
        speed = m_currentSpeed;
    }
    auto measure = [&] {
        auto elapsed =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
                .count();
        return elapsed < 1 ? -1 : static_cast<int>((done - offset) / elapsed / 1000);
    };
    if (int measured = measure(); measured >= 0) {
        speed = measured;
        std::lock_guard lock{m_stateLock};
        m_currentSpeed = speed;
    }
    if (maxSpeed > 0) {
        while (speed > maxSpeed && !jobStopped()) {
            // Slow down; a stop request ends the pause at once.
            pauseUnlessStopped(kSpeedPauseMs);
            if (int measured = measure(); measured >= 0)
                speed = measured;
        }
        if (jobStopped())
            return false;
    }
    if (minSpeed > 0 && speed > 0 && speed < minSpeed) {
        setLocalError(TransferTooSlow);
        return false;
    }
    return true;
}

// ---- send text ----

void SocketConnection::runSendText()
{
    std::string text;
    bool closeWhenDone;
    {
        std::lock_guard lock{m_stateLock};
        text = m_pendingText;
        closeWhenDone = m_closeWhenDone;
        m_bytesDone = 0;
    }
    setStalled(true);
    bool ok = true;
    for (std::size_t at = 0; ok && at < text.size();) {
        const std::size_t piece = std::min(kTextPieceBytes, text.size() - at);
        addBytesDone(static_cast<std::int64_t>(piece));
        std::size_t done = 0;
        while (done < piece) {
            std::int64_t sent = 0;
            if (!sendWhenWritable(text.data() + at + done, static_cast<std::int64_t>(piece - done), sent)) {
                ok = false;
                break;
            }
            done += static_cast<std::size_t>(sent);
            if (done < piece && stream().wait(StreamInterest::Write, kStallWaitMs) == WaitResult::Stopped) {
                ok = false;
                break;
            }
        }
        at += done;
        if (ok && at < text.size()) {
            if (jobStopped())
                break;
            setStalled(true);
        }
    }
    setStalled(false);
    if (jobStopped())
        ok = false;
    if (closeWhenDone)
        closeKeepingError();
    setResult(ok);
}

// ---- send file ----

void SocketConnection::runSendFile()
{
    int maxSpeed;
    int minSpeed;
    std::string path;
    bool closeWhenDone;
    std::int64_t offset;
    {
        std::lock_guard lock{m_stateLock};
        maxSpeed = m_maxSpeed;
        minSpeed = m_minSpeed;
        path = m_filePath;
        closeWhenDone = m_closeWhenDone;
        offset = m_resumeOffset;
    }
    bool ok = true;
    std::filesystem::path copy;
    std::string source = path;
    if (platform::isOnOpticalFileSystem(path)) {
        // Optical discs are slow and may be ejected: send a copy from the temporary folder.
        copy = platform::createTempFile("ftp");
        std::error_code ec;
        if (copy.empty()
            || !std::filesystem::copy_file(
                path, copy, std::filesystem::copy_options::overwrite_existing, ec)) {
            setLocalError(FileCopyError);
            ok = false;
        }
        source = copy.string();
    }
    platform::UniqueFd file;
    if (ok) {
        file.reset(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file.isOpen()) {
            setLocalError(FileOpenError);
            ok = false;
        }
    }
    if (ok) {
        struct stat info
        {};

        ::fstat(file.get(), &info);
        {
            std::lock_guard lock{m_stateLock};
            m_totalSize = info.st_size;
            m_bytesDone = 0;
        }
        if (offset > 0) {
            ::lseek(file.get(), offset, SEEK_SET);
            std::lock_guard lock{m_stateLock};
            m_bytesDone = offset;
        }
        ok = sendFileBody(file.get(), maxSpeed, minSpeed);
        if (!ok && !error().isStop())
            core::DiagnosticLog::instance().writeFormatted("ReadFileError %d\n", error().code());
    }
    setStalled(false);
    file.reset();
    if (jobStopped())
        ok = false;
    {
        std::lock_guard lock{m_stateLock};
        m_filePath.clear();
    }
    if (!copy.empty()) {
        std::error_code ec;
        std::filesystem::permissions(
            copy, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
        if (!std::filesystem::remove(copy, ec))
            core::DiagnosticLog::instance().writeFormatted("DeleteFile Fail %d\n", ec.value());
    }
    if (closeWhenDone)
        closeKeepingError();
    setResult(ok);
}

bool SocketConnection::sendFileBody(int fileFd, int maxSpeed, int minSpeed)
{
    const FileJobShape shape = shapeFor(maxSpeed);
    const auto start = std::chrono::steady_clock::now();
    setStalled(false);
    // sendfile needs a plain descriptor; an encrypting stream without kernel TLS takes read and write.
    bool useSendfile = stream().zeroCopyFd() >= 0;
    RateLimiter::Ticket ticket = joinRateLimiter();
    std::unique_ptr<char[]> buffer;
    std::int64_t pending = 0; // read-path bytes of the current block not yet sent
    std::int64_t pendingAt = 0;
    int blocks = 0;
    bool stalled = false;
    for (;;) {
        if (jobStopped())
            return false;
        if (!m_tcp.isOpen()) {
            setLocalError(SocketWriteError);
            return false;
        }
        if (!useSendfile && !buffer)
            buffer = std::make_unique<char[]>(static_cast<std::size_t>(kBlockBytes));
        IoResult io;
        if (useSendfile) {
            const std::int64_t allowed = throttle(ticket, shape.blockBytes);
            if (allowed == 0)
                return false;
            const ssize_t n =
                ::sendfile(stream().zeroCopyFd(), fileFd, nullptr, static_cast<std::size_t>(allowed));
            if (n < 0 && (errno == EINVAL || errno == ENOSYS) && blocks == 0) {
                ticket.refund(allowed);
                useSendfile = false;
                continue;
            }
            if (n < 0 && errno == EIO) {
                setLocalError(FileReadError);
                return false;
            }
            ticket.refund(allowed - std::max<std::int64_t>(n, 0));
            if (n == 0)
                return true; // end of the file
            if (n > 0)
                io = {IoResult::Status::Moved, n, 0};
            else if (errno == EINTR)
                continue;
            else if (errno == EAGAIN || errno == EWOULDBLOCK)
                io = {IoResult::Status::WouldBlock, 0, 0, StreamInterest::Write};
            else
                io = {IoResult::Status::Failed, 0, errno};
        } else {
            if (pending == 0) {
                const ssize_t got = ::read(fileFd, buffer.get(), static_cast<std::size_t>(shape.blockBytes));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0) {
                    setLocalError(FileReadError);
                    return false;
                }
                if (got == 0)
                    return true;
                pending = got;
                pendingAt = 0;
            }
            const std::int64_t allowed = throttle(ticket, pending);
            if (allowed == 0)
                return false;
            io = stream().write(buffer.get() + pendingAt, allowed);
            ticket.refund(allowed - (io.status == IoResult::Status::Moved ? io.bytes : 0));
            if (io.status == IoResult::Status::Moved) {
                pending -= io.bytes;
                pendingAt += io.bytes;
            }
        }
        if (io.status == IoResult::Status::Moved) {
            if (stalled) {
                setStalled(false);
                stalled = false;
            }
            addBytesDone(io.bytes);
            if (++blocks % shape.blocksPerCheck == 0 && !applySpeedRule(start, maxSpeed, minSpeed))
                return false;
            continue;
        }
        if (io.status == IoResult::Status::WouldBlock) {
            // The peer does not take more yet: a stall until the stream can go on again.
            if (!stalled) {
                setStalled(true);
                stalled = true;
            }
            if (stream().wait(io.wants, kStallWaitMs) == WaitResult::Stopped)
                return false;
            continue;
        }
        closeSocketAfterFailure(platform::socketErrorFromErrno(io.errorNumber));
        setLocalError(SocketWriteError);
        return false;
    }
}

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

void SocketConnection::runReceiveFile()
{
    int maxSpeed;
    int minSpeed;
    std::string path;
    bool closeWhenDone;
    bool expectHeader;
    ResponseFilter *filter;
    {
        std::lock_guard lock{m_stateLock};
        maxSpeed = m_maxSpeed;
        minSpeed = m_minSpeed;
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
        file.reset(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644));
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
    const FileJobShape shape = shapeFor(maxSpeed);
    const auto start = std::chrono::steady_clock::now();
    setStalled(false);
    bool stalled = false;
    auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(shape.blockBytes));
    int blocks = 0;
    RateLimiter::Ticket ticket = joinRateLimiter();
    while (!jobStopped()) {
        char *data = buffer.get();
        std::int64_t got = 0;
        if (!leftover.empty()) {
            data = leftover.data();
            got = static_cast<std::int64_t>(leftover.size());
        } else {
            const std::int64_t allowed = throttle(ticket, shape.blockBytes);
            if (allowed == 0)
                break;
            const bool received = receive(buffer.get(), allowed, got);
            ticket.refund(allowed - got);
            if (!received) {
                // The peer closed (the normal end) or the socket failed. A reset ends an FTP data
                // transfer (its closing reply judges it), but an HTTP body that runs to the close is
                // only whole when the close is orderly.
                const ErrorCode record = error();
                const bool resetEndsData = !filter && record.is(CatSocket, platform::kSocketConnectionReset);
                if (record.isSet() && !record.isStop() && !resetEndsData) {
                    setLocalError(SocketReadError);
                    return false;
                }
                return true;
            }
        }
        if (++blocks % shape.blocksPerCheck == 0 && !applySpeedRule(start, maxSpeed, minSpeed))
            return false;
        if (got > 0) {
            if (stalled) {
                setStalled(false);
                stalled = false;
            }
            // The HTTP client sees the body first: it undoes a transfer encoding and says where
            // the body ends (a kept-alive connection would otherwise hold the job).
            bool bodyEnded = false;
            if (filter && !filter->filterBody(data, got, bodyEnded)) {
                setLocalError(SocketReadError);
                return false;
            }
            if (!writeAll(fileFd, data, got)) {
                setLocalError(FileWriteError);
                return false;
            }
            leftover.clear();
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
    }
    return true;
}

} // namespace bw::net
