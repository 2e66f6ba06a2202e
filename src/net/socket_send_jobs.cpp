// SPDX-License-Identifier: MIT
// The send jobs of SocketConnection's worker: a text (a command or request line) and a file.
#include <algorithm>
#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/diagnostic_log.h"
#include "net/rate_limiter.h"
#include "net/socket_connection.h"
#include "net/socket_job_shape.h"
#include "platform/file_util.h"
#include "platform/socket_errors.h"
#include "platform/unique_fd.h"

namespace bw::net {

using namespace jobs;

namespace {

constexpr std::size_t kTextPieceBytes = 64 * 1024;

} // namespace

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
    const int minSpeed = effectiveMinSpeed();
    int maxSpeed;
    std::string path;
    bool closeWhenDone;
    std::int64_t offset;
    {
        std::lock_guard lock{m_stateLock};
        maxSpeed = m_maxSpeed;
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
    SpeedCheck check = beginSpeedCheck(minSpeed);
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
            buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(kBlockBytes));
        IoResult io;
        if (useSendfile) {
            const std::int64_t allowed = throttle(ticket, shape.blockBytes, check);
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
            const std::int64_t allowed = throttle(ticket, pending, check);
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
            if (++blocks % shape.blocksPerCheck == 0 && !applySpeedRule(check, maxSpeed))
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
            if (stalledTooLong()) {
                setStopError(DataIdleTimeout);
                return false;
            }
            continue;
        }
        closeSocketAfterFailure(platform::socketErrorFromErrno(io.errorNumber));
        setLocalError(SocketWriteError);
        return false;
    }
}

} // namespace bw::net
