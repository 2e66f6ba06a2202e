// SPDX-License-Identifier: MIT
#include "net/sftp_pipeline.h"

#include <poll.h>

namespace bw::net {

namespace {

constexpr std::int64_t kProgressEveryMs = 100;

std::deque<SftpRequest>::iterator findRequest(std::deque<SftpRequest> &inFlight, std::uint32_t id)
{
    return std::find_if(
        inFlight.begin(), inFlight.end(), [id](const SftpRequest &request) { return request.id == id; });
}

} // namespace

SftpPipeline::SftpPipeline(SshConnection &connection, sftp_session sftp, const SftpTransferRules &rules)
    : m_connection(connection)
    , m_sftp(sftp)
    , m_rules(rules)
    , m_io(connection, sftp->channel, rules.timeoutSeconds)
    , m_ticket(rules.speedLimits ? rules.speedLimits->rateLimiter().join() : RateLimiter::Ticket())
    , m_lastMove(SteadyClock::now())
    , m_speedWatch(minSpeed(rules), rules.minSpeedGraceSeconds, nowMs(), 0)
{}

SftpPipeline::~SftpPipeline()
{
    closeRemote();
    m_connection.endCall();
}

bool SftpPipeline::openRemote(const std::string &path, int accessType, mode_t mode)
{
    m_connection.beginCall(m_rules.timeoutSeconds);
    m_file = sftp_open(m_sftp, path.c_str(), accessType, mode);
    m_connection.endCall();
    if (!m_file)
        return failRequest("Open " + path, sftp_get_error(m_sftp));
    m_handle.assign(
        static_cast<const char *>(ssh_string_data(m_file->handle)), ssh_string_len(m_file->handle));
    return true;
}

bool SftpPipeline::closeRemote()
{
    if (!m_file)
        return true;
    m_connection.beginCall(m_rules.timeoutSeconds);
    const int closed = sftp_close(m_file);
    m_connection.endCall();
    m_file = nullptr;
    return closed == SSH_OK || failRequest("Close", sftp_get_error(m_sftp));
}

std::uint32_t SftpPipeline::grant(std::uint32_t wanted, int &waitMs)
{
    const RateLimiter::Grant granted = m_ticket.acquire(wanted);
    waitMs = granted.bytes > 0 ? 0 : std::max(granted.waitMs, 1);
    return static_cast<std::uint32_t>(std::min<std::int64_t>(granted.bytes, wanted));
}

bool SftpPipeline::holdBack(int waitMs)
{
    const int stopFd = m_connection.stopSignal().wakeFd();
    pollfd entry{stopFd, POLLIN, 0};
    ::poll(&entry, 1, std::min(waitMs, 1000));
    m_heldMs += waitMs;
    return !m_connection.stopSignal().isSet() || fail(SftpWait::Stopped);
}

bool SftpPipeline::nextReply(std::string_view &packet, bool draining)
{
    const auto deadline =
        m_lastMove + std::chrono::seconds(m_rules.timeoutSeconds > 0 ? m_rules.timeoutSeconds : 30);
    const SftpWait outcome = m_io.nextPacket(packet, deadline, !draining);
    if (outcome == SftpWait::Packet && packet.size() >= 5)
        return true;
    return fail(outcome == SftpWait::Packet ? SftpWait::Failed : outcome);
}

SftpTurn SftpPipeline::awaitReply(std::deque<SftpRequest> &inFlight, bool allSent, int waitMs,
    std::string_view &reply, std::deque<SftpRequest>::iterator &found)
{
    if (m_failed)
        return SftpTurn::Over;
    if (inFlight.empty()) {
        if (allSent || (waitMs > 0 && !holdBack(waitMs)))
            return SftpTurn::Over;
        return SftpTurn::SendFirst;
    }
    if (!nextReply(reply))
        return SftpTurn::Over;
    found = findRequest(inFlight, readUint32(reply, 1));
    if (found == inFlight.end()) {
        fail(SftpWait::Failed);
        return SftpTurn::Over;
    }
    return SftpTurn::Reply;
}

bool SftpPipeline::moved(std::int64_t doneBytes, std::int64_t totalBytes)
{
    m_lastMove = SteadyClock::now();
    const std::int64_t now = nowMs();
    if (now - m_lastProgressMs < kProgressEveryMs)
        return true;
    m_lastProgressMs = now;
    if (m_rules.progress)
        m_rules.progress(doneBytes, totalBytes);
    m_movedSinceStart = doneBytes - m_startBytes;
    if (m_speedWatch.observe(now, m_movedSinceStart, m_heldMs).tooSlow) {
        m_connection.setError(ErrorCode{CatLocal, TransferTooSlow});
        return false;
    }
    return true;
}

bool SftpPipeline::finish(std::deque<SftpRequest> &inFlight, std::int64_t doneBytes, std::int64_t totalBytes)
{
    const bool failed = m_failed;
    if (failed)
        drain(inFlight);
    if (m_rules.progress)
        m_rules.progress(doneBytes, totalBytes);
    return closeRemote() && !failed;
}

bool SftpPipeline::fail(SftpWait outcome)
{
    if (m_failed)
        return false;
    m_failed = true;
    m_channelUsable = outcome == SftpWait::Stopped;
    if (outcome == SftpWait::Stopped && m_connection.stopSignal().isSet())
        m_connection.setError(ErrorCode{CatStop, m_connection.stopSignal().code()});
    else if (outcome == SftpWait::TimedOut)
        m_connection.setError(ErrorCode{CatStop, DataIdleTimeout});
    else
        m_connection.failBroken();
    return false;
}

bool SftpPipeline::failRequest(const std::string &what, int status)
{
    if (m_failed)
        return false;
    if (m_connection.stopSignal().isSet() || !ssh_is_connected(m_connection.handle()))
        return fail(SftpWait::Stopped);
    m_failed = true;
    ErrorCode record{CatProtocol, PermissionDenied};
    record.setStatus(status);
    record.setDetail(what + ": "
        + (status == SSH_FX_PERMISSION_DENIED   ? "Permission denied"
                : status == SSH_FX_NO_SUCH_FILE ? "No such file"
                                                : "refused by the server"));
    m_connection.setError(record);
    return false;
}

bool SftpPipeline::failLocal(std::int32_t code)
{
    if (!m_failed)
        m_connection.setError(ErrorCode{CatLocal, code});
    m_failed = true;
    return false;
}

void SftpPipeline::drain(std::deque<SftpRequest> &inFlight)
{
    if (inFlight.empty())
        return;
    if (!m_channelUsable) {
        giveUp();
        return;
    }
    m_lastMove = SteadyClock::now();
    const auto deadline =
        m_lastMove + std::chrono::seconds(m_rules.timeoutSeconds > 0 ? m_rules.timeoutSeconds : 30);
    std::string_view packet;
    while (!inFlight.empty()) {
        if (m_io.nextPacket(packet, deadline, false) != SftpWait::Packet || packet.size() < 5) {
            giveUp();
            return;
        }
        const std::uint32_t id = readUint32(packet, 1);
        std::erase_if(inFlight, [id](const SftpRequest &request) { return request.id == id; });
    }
}

void SftpPipeline::giveUp()
{
    m_channelUsable = false;
    m_connection.markBroken();
}

std::int64_t SftpPipeline::nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now().time_since_epoch())
        .count();
}

int SftpPipeline::minSpeed(const SftpTransferRules &rules)
{
    if (rules.minSpeedKBps > 0)
        return rules.minSpeedKBps;
    return rules.speedLimits ? rules.speedLimits->minKBps() : 0;
}

} // namespace bw::net
