// SPDX-License-Identifier: MIT
// The worker side of SocketConnection: the hand-off between owner and worker, the accessors, the
// speed rule, the rate limiter and the stall bookkeeping. The jobs are in socket_send_jobs.cpp and
// socket_receive_job.cpp.
#include <algorithm>
#include <cerrno>

#include <poll.h>

#include "net/rate_limiter.h"
#include "net/socket_connection.h"
#include "net/socket_job_shape.h"

namespace bw::net {

using namespace jobs;

namespace {

constexpr int kIdleWaitMs = 2000;
constexpr int kSpeedPauseMs = 100;

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
    if (m_state.load() != SocketState::Connected)
        return false;
    const bool idle = m_idleEvent.waitFor(kIdleWaitMs);
    m_jobKind.store(JobKind::SendText);
    {
        std::lock_guard lock{m_stateLock};
        m_pendingText = text;
        m_closeWhenDone = closeWhenDone;
    }
    if (idle) {
        // The caller waits for the send anyway: with the worker idle, this thread sends itself, which
        // spares two thread wake-ups per command (they add up over thousands of small files).
        clearError();
        {
            std::lock_guard lock{m_stateLock};
            m_bytesDone = 0;
        }
        runSendText();
    } else {
        release();
        m_idleEvent.wait();
    }
    m_idleEvent.set();
    // A send that failed is reported as a failure, not only a send that could not start.
    return result() == 0;
}

bool SocketConnection::beginFileJob(JobKind kind, const std::string &path, bool binary, std::int64_t offset,
    bool closeWhenDone, ResponseFilter *filter)
{
    m_idleEvent.waitFor(kIdleWaitMs);
    setFileJob(kind, path, binary, offset, closeWhenDone, filter);
    release();
    return true;
}

void SocketConnection::setFileJob(JobKind kind, const std::string &path, bool binary, std::int64_t offset,
    bool closeWhenDone, ResponseFilter *filter)
{
    m_jobKind.store(kind);
    std::lock_guard lock{m_stateLock};
    m_filePath = path;
    m_binaryMode = binary;
    m_resumeOffset = offset;
    m_closeWhenDone = closeWhenDone;
    m_filter = filter;
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

void SocketConnection::runFileJobHere(JobKind kind, const std::string &path, bool binary, std::int64_t offset,
    bool closeWhenDone, int stallLimitSeconds)
{
    if (!m_idleEvent.waitFor(kIdleWaitMs)) {
        beginFileJob(kind, path, binary, offset, closeWhenDone, nullptr);
        return;
    }
    setFileJob(kind, path, binary, offset, closeWhenDone, nullptr);
    {
        std::lock_guard lock{m_stateLock};
        m_bytesDone = 0;
        m_currentSpeed = 0;
    }
    clearError();
    m_jobStallLimit = std::max(stallLimitSeconds, 1);
    if (kind == JobKind::ReceiveFile)
        runReceiveFile();
    else
        runSendFile();
    m_jobStallLimit = 0;
    {
        std::lock_guard lock{m_stateLock};
        m_currentSpeed = 0;
    }
    m_idleEvent.set();
}

void SocketConnection::receiveFileHere(
    const std::string &path, bool binary, bool closeWhenDone, int stallLimitSeconds)
{
    runFileJobHere(JobKind::ReceiveFile, path, binary, 0, closeWhenDone, stallLimitSeconds);
}

void SocketConnection::sendFileHere(
    const std::string &path, bool binary, std::int64_t offset, bool closeWhenDone, int stallLimitSeconds)
{
    runFileJobHere(JobKind::SendFile, path, binary, offset, closeWhenDone, stallLimitSeconds);
}

bool SocketConnection::stalledTooLong() const
{
    if (m_jobStallLimit <= 0)
        return false;
    const std::int64_t now = clock().nowSeconds();
    std::lock_guard lock{m_stateLock};
    return m_stalled && now - m_stallStart > m_jobStallLimit;
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

void SocketConnection::setSpeedLimits(SpeedLimits *limits)
{
    std::lock_guard lock{m_stateLock};
    m_speedLimits = limits;
}

void SocketConnection::setMinSpeedGrace(int seconds)
{
    std::lock_guard lock{m_stateLock};
    m_minSpeedGrace = seconds;
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

std::int64_t SocketConnection::throttle(RateLimiter::Ticket &ticket, std::int64_t wanted, SpeedCheck &check)
{
    for (;;) {
        const RateLimiter::Grant grant = ticket.acquire(wanted);
        if (grant.bytes > 0)
            return grant.bytes;
        const std::int64_t before = clock().monotonicMilliseconds();
        const bool going = pauseUnlessStopped(grant.waitMs);
        check.heldMs += clock().monotonicMilliseconds() - before;
        if (!going)
            return 0;
    }
}

RateLimiter::Ticket SocketConnection::joinRateLimiter()
{
    std::lock_guard lock{m_stateLock};
    if (m_rateLimiter)
        return RateLimiter::Ticket(m_rateLimiter);
    return RateLimiter::Ticket(m_speedLimits ? &m_speedLimits->rateLimiter() : nullptr);
}

int SocketConnection::effectiveMinSpeed() const
{
    std::lock_guard lock{m_stateLock};
    if (m_minSpeed > 0)
        return m_minSpeed;
    return m_speedLimits ? m_speedLimits->minKBps() : 0;
}

SocketConnection::SpeedCheck SocketConnection::beginSpeedCheck(int minSpeed)
{
    const std::int64_t now = clock().monotonicMilliseconds();
    std::lock_guard lock{m_stateLock};
    return {now, MinSpeedWatch(minSpeed, m_minSpeedGrace, now, m_bytesDone)};
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

bool SocketConnection::applySpeedRule(SpeedCheck &check, int maxSpeed)
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
    // The average since the job began, in whole seconds.
    auto measure = [&] {
        const std::int64_t elapsed = (clock().monotonicMilliseconds() - check.startMs) / 1000;
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
    // The minimum judges the recent speed: a transfer that stays below it for its grace period ends,
    // and one that only slowed down for a moment goes on.
    if (check.minimum.observe(clock().monotonicMilliseconds(), done, check.heldMs).tooSlow) {
        setLocalError(TransferTooSlow);
        return false;
    }
    return true;
}

} // namespace bw::net
