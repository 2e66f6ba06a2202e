// SPDX-License-Identifier: MIT
// SocketConnection's file send, on the owner's thread: sendfile on plain TCP, read and write through
// an encrypting layer.
#include <algorithm>
#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/diagnostic_log.h"
#include "net/socket_job_shape.h"
#include "platform/file_util.h"
#include "platform/socket_errors.h"
#include "platform/unique_fd.h"

namespace bw::net {

using namespace jobs;

// ---- send file ----

bool SocketConnection::sendFile(
    const std::string &path, std::int64_t offset, bool closeWhenDone, const TransferWatch &watch)
{
    clearError();
    m_bytesDone.store(0, std::memory_order_relaxed);
    m_resumeOffset.store(offset, std::memory_order_relaxed);
    bool ok = !m_stop.isSet() || recordStop();
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
        m_totalSize.store(info.st_size, std::memory_order_relaxed);
        if (offset > 0) {
            ::lseek(file.get(), offset, SEEK_SET);
            m_bytesDone.store(offset, std::memory_order_relaxed);
        }
    }
    Pace pace = beginPace(watch);
    if (ok) {
        ok = sendFileBody(file.get(), pace);
        if (!ok && !error().isStop())
            core::DiagnosticLog::instance().writeFormatted("ReadFileError %d\n", error().code());
    }
    file.reset();
    if (!copy.empty()) {
        std::error_code ec;
        std::filesystem::permissions(
            copy, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
        if (!std::filesystem::remove(copy, ec))
            core::DiagnosticLog::instance().writeFormatted("DeleteFile Fail %d\n", ec.value());
    }
    return finishPace(pace, ok, closeWhenDone);
}

bool SocketConnection::sendFileBody(int fileFd, Pace &pace)
{
    // sendfile needs a plain descriptor; an encrypting stream without kernel TLS takes read and write.
    bool useSendfile = stream().zeroCopyFd() >= 0;
    std::unique_ptr<char[]> buffer;
    std::int64_t pending = 0; // read-path bytes of the current block not yet sent
    std::int64_t pendingAt = 0;
    // A write that would block is repeated with the same length: TLS fails a shorter retry ("bad length"),
    // and the rate limiter may grant less by then (another transfer joined). Its grant is kept meanwhile.
    std::int64_t retryLength = 0;
    for (;;) {
        if (m_stop.isSet())
            return recordStop();
        if (!m_tcp.isOpen()) {
            setLocalError(SocketWriteError);
            return false;
        }
        if (!useSendfile && !buffer)
            buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(kBlockBytes));
        IoResult io;
        if (useSendfile) {
            const std::int64_t allowed = throttle(pace, kBlockBytes);
            if (allowed == 0)
                return false;
            const ssize_t n =
                ::sendfile(stream().zeroCopyFd(), fileFd, nullptr, static_cast<std::size_t>(allowed));
            if (n < 0 && (errno == EINVAL || errno == ENOSYS) && pace.blocks == 0) {
                pace.ticket.refund(allowed);
                useSendfile = false;
                continue;
            }
            if (n < 0 && errno == EIO) {
                setLocalError(FileReadError);
                return false;
            }
            pace.ticket.refund(allowed - std::max<std::int64_t>(n, 0));
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
                const ssize_t got = ::read(fileFd, buffer.get(), static_cast<std::size_t>(kBlockBytes));
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
            const std::int64_t allowed = retryLength > 0 ? retryLength : throttle(pace, pending);
            if (allowed == 0)
                return false;
            io = stream().write(buffer.get() + pendingAt, allowed);
            retryLength = io.status == IoResult::Status::WouldBlock ? allowed : 0;
            if (retryLength == 0)
                pace.ticket.refund(allowed - (io.status == IoResult::Status::Moved ? io.bytes : 0));
            if (io.status == IoResult::Status::Moved) {
                pending -= io.bytes;
                pendingAt += io.bytes;
            }
        }
        if (io.status == IoResult::Status::Moved) {
            movedBytes(pace, io.bytes);
            if (++pace.blocks % kBlocksPerCheck == 0 && !checkpoint(pace))
                return false;
            continue;
        }
        if (io.status == IoResult::Status::WouldBlock) {
            // The peer does not take more yet: a stall until the stream can go on again.
            if (!waitStalled(pace, io.wants))
                return false;
            continue;
        }
        closeSocketAfterFailure(platform::socketErrorFromErrno(io.errorNumber));
        setLocalError(SocketWriteError);
        return false;
    }
}

} // namespace bw::net
