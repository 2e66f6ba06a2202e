// SPDX-License-Identifier: MIT
// The pace of SocketConnection's transfers: the shared rate limiter, the minimum speed, stalls and
// progress, checked in the transfer loop itself; and the text send. The file transfers are in
// socket_send_jobs.cpp and socket_receive_job.cpp.
#include <algorithm>

#include <poll.h>

#include "net/socket_job_shape.h"

namespace bw::net {

using namespace jobs;

namespace {

constexpr std::size_t kTextPieceBytes = 64 * 1024;

} // namespace

SocketConnection::Pace SocketConnection::beginPace(const TransferWatch &watch)
{
    RateLimiter *limiter = m_rateLimiter;
    if (!limiter && m_speedLimits)
        limiter = &m_speedLimits->rateLimiter();
    const std::int64_t now = clock().monotonicMilliseconds();
    const std::int64_t done = bytesDone();
    m_currentSpeed.store(0, std::memory_order_relaxed);
    return Pace{watch, RateLimiter::Ticket(limiter),
        MinSpeedWatch(effectiveMinSpeed(), m_minSpeedGrace, now, done), now, done};
}

int SocketConnection::effectiveMinSpeed() const
{
    if (m_minSpeed > 0)
        return m_minSpeed;
    return m_speedLimits ? m_speedLimits->minKBps() : 0;
}

bool SocketConnection::pauseUnlessStopped(int timeoutMs)
{
    // Waits on the wake descriptor, so a stop request ends the pause at once.
    const int wakeFd = m_stop.wakeFd();
    pollfd entry{wakeFd, POLLIN, 0};
    ::poll(&entry, wakeFd >= 0 ? 1 : 0, timeoutMs);
    if (m_stop.isSet())
        return false;
    m_stop.drainIfCleared();
    return true;
}

std::int64_t SocketConnection::throttle(Pace &pace, std::int64_t wanted)
{
    for (;;) {
        const RateLimiter::Grant grant = pace.ticket.acquire(wanted);
        if (grant.bytes > 0)
            return grant.bytes;
        const std::int64_t before = clock().monotonicMilliseconds();
        const bool going = pauseUnlessStopped(grant.waitMs);
        pace.heldMs += clock().monotonicMilliseconds() - before;
        if (!going) {
            recordStop();
            return 0;
        }
    }
}

bool SocketConnection::checkpoint(Pace &pace)
{
    if (m_stop.isSet())
        return recordStop();
    const std::int64_t nowMs = clock().monotonicMilliseconds();
    const std::int64_t done = bytesDone();
    // The average since the transfer began, once a whole second has passed.
    if (const std::int64_t elapsed = (nowMs - pace.startMs) / 1000; elapsed >= 1)
        m_currentSpeed.store(
            static_cast<int>((done - pace.startBytes) / elapsed / 1000), std::memory_order_relaxed);
    if (pace.stallStartMs >= 0 && pace.watch.stallLimitSeconds > 0
        && nowMs - pace.stallStartMs > std::int64_t{pace.watch.stallLimitSeconds} * 1000) {
        setError(CatStop, DataIdleTimeout);
        return false;
    }
    // The minimum judges the recent speed: a transfer that stays below it for its grace period ends,
    // and one that only slowed down for a moment goes on.
    if (pace.minimum.observe(nowMs, done, pace.heldMs).tooSlow) {
        setLocalError(TransferTooSlow);
        return false;
    }
    if (pace.watch.progress) {
        const auto now = std::chrono::steady_clock::now();
        if (now - pace.lastReport >= kProgressInterval) {
            pace.lastReport = now;
            pace.watch.progress(done, totalSize());
        }
    }
    return true;
}

bool SocketConnection::waitStalled(Pace &pace, StreamInterest interest)
{
    if (pace.stallStartMs < 0) {
        pace.stallStartMs = clock().monotonicMilliseconds();
        m_stalled.store(true, std::memory_order_relaxed);
    }
    if (stream().wait(interest, kStallWaitMs) == WaitResult::Stopped)
        return recordStop();
    return checkpoint(pace);
}

void SocketConnection::movedBytes(Pace &pace, std::int64_t bytes)
{
    m_bytesDone.fetch_add(bytes, std::memory_order_relaxed);
    if (pace.stallStartMs >= 0) {
        pace.stallStartMs = -1;
        m_stalled.store(false, std::memory_order_relaxed);
    }
}

bool SocketConnection::finishPace(Pace &pace, bool ok, bool closeWhenDone)
{
    m_stalled.store(false, std::memory_order_relaxed);
    m_currentSpeed.store(0, std::memory_order_relaxed);
    if (m_stop.isSet())
        ok = recordStop();
    if (closeWhenDone)
        closeKeepingError();
    if (pace.watch.progress)
        pace.watch.progress(bytesDone(), totalSize());
    return ok;
}

// ---- send text ----

bool SocketConnection::sendText(const std::string &text, bool closeWhenDone)
{
    if (m_state.load() != SocketState::Connected)
        return false;
    m_bytesDone.store(0, std::memory_order_relaxed);
    bool ok = true;
    for (std::size_t at = 0; ok && at < text.size();) {
        const std::size_t piece = std::min(kTextPieceBytes, text.size() - at);
        m_bytesDone.fetch_add(static_cast<std::int64_t>(piece), std::memory_order_relaxed);
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
    }
    if (m_stop.isSet())
        ok = recordStop();
    if (closeWhenDone)
        closeKeepingError();
    return ok;
}

void SocketConnection::closeKeepingError()
{
    // Closing clears the record; the transfer's failure must survive it.
    const ErrorCode kept = error();
    close();
    if (kept.isSet())
        setError(kept);
}

bool SocketConnection::sendTextOnce(const std::string &text)
{
    if (m_state.load() != SocketState::Connected)
        return false;
    const IoResult io = stream().write(text.data(), static_cast<std::int64_t>(text.size()));
    return io.status == IoResult::Status::Moved && io.bytes == static_cast<std::int64_t>(text.size());
}

} // namespace bw::net
