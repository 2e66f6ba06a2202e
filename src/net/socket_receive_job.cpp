// SPDX-License-Identifier: MIT
// The receive job of SocketConnection's worker: an optional response header read through a filter,
// then the body into a file, appended for a resume.
#include <algorithm>
#include <cerrno>
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
    SpeedCheck check = beginSpeedCheck(minSpeed);
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
            const std::int64_t allowed = throttle(ticket, shape.blockBytes, check);
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
        if (++blocks % shape.blocksPerCheck == 0 && !applySpeedRule(check, maxSpeed))
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
