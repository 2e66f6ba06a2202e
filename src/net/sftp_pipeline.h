// SPDX-License-Identifier: MIT
// What the pipelined SFTP download and upload share: the remote file and its handle, the request ids,
// the wait for replies, the shared speed limit, progress, the minimum speed and the outcome (the first
// reason kept). The thread that drives the session uses it for one transfer.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include <libssh/sftp.h>
#include <sys/types.h>

#include "net/min_speed_watch.h"
#include "net/sftp_channel_io.h"
#include "net/sftp_transfer.h"

namespace bw::net {

// Requests in flight hold up to 4 MiB (16 to 64 of them): enough to keep a fast link busy, and the
// peak memory small. Larger requests than the server allows are never sent, nor above 256 KiB.
inline constexpr std::uint32_t kSftpInFlightBytes = 4 * 1024 * 1024;

inline std::uint32_t sftpRequestBytes(std::uint32_t allowed)
{
    return std::clamp<std::uint32_t>(allowed, 4096, kLargestRequestBytes);
}

inline std::size_t sftpRequestsInFlight(std::uint32_t chunkBytes)
{
    return std::clamp<std::size_t>(kSftpInFlightBytes / chunkBytes, 16, 64);
}

struct SftpRequest
{
    std::uint32_t id = 0;
    std::int64_t offset = 0;
    std::uint32_t length = 0;
};

// What a transfer loop does after sending: read a reply, send more first, or stop.
enum class SftpTurn
{
    Reply,
    SendFirst,
    Over,
};

class SftpPipeline
{
    using SteadyClock = std::chrono::steady_clock;

public:
    SftpPipeline(SshConnection &connection, sftp_session sftp, const SftpTransferRules &rules);

    ~SftpPipeline();

    bool openRemote(const std::string &path, int accessType, mode_t mode);

    // The server's reply to a close tells whether a written file is whole (a full disk shows here).
    bool closeRemote();

    std::uint32_t nextId() { return ++m_sftp->id_counter; }

    // How much may move now (at most `wanted`); 0 with `waitMs` when the shared limit says wait.
    std::uint32_t grant(std::uint32_t wanted, int &waitMs);

    // Sleeps `waitMs` unless a stop comes first (the shared limit made the transfer wait).
    bool holdBack(int waitMs);

    // The next reply, or false with the reason recorded. Draining ignores a transfer-only stop.
    bool nextReply(std::string_view &packet, bool draining = false);

    // The reply to one of the requests in flight, with that request. Over when the transfer failed,
    // or when nothing is in flight and nothing more will be sent (`allSent`); SendFirst after a wait
    // that the shared rate limit asked for.
    SftpTurn awaitReply(std::deque<SftpRequest> &inFlight, bool allSent, int waitMs, std::string_view &reply,
        std::deque<SftpRequest>::iterator &found);

    bool send(std::string_view bytes) { return m_io.send(bytes) || fail(SftpWait::Failed); }

    // Bytes moved: progress (at most every 100 ms) and the minimum speed.
    bool moved(std::int64_t doneBytes, std::int64_t totalBytes);

    // The end of a transfer: the last progress, the replies still out read (after a failure), and the
    // file closed; true when it all succeeded.
    bool finish(std::deque<SftpRequest> &inFlight, std::int64_t doneBytes, std::int64_t totalBytes);

    void setStartBytes(std::int64_t bytes) { m_startBytes = bytes; }

    // Records why the transfer ends; keeps the first reason. Returns false.
    bool fail(SftpWait outcome);

    bool failRequest(const std::string &what, int status);

    bool failLocal(std::int32_t code);

    bool hasFailed() const { return m_failed; }

    // After a failure with requests still out: when the channel still works (a stop of this transfer,
    // a refused request, a local file error), reads their replies so that it is clean for the next
    // request; otherwise, or when that fails, the connection is given up. The first error stays.
    void drain(std::deque<SftpRequest> &inFlight);

    // A session stop has shut the socket already; otherwise the server is cut off here.
    void giveUp();

    const std::string &handle() const { return m_handle; }

private:
    static std::int64_t nowMs();

    static int minSpeed(const SftpTransferRules &rules);

    SshConnection &m_connection;
    sftp_session m_sftp;
    const SftpTransferRules &m_rules;
    SftpChannelIo m_io;
    RateLimiter::Ticket m_ticket;
    sftp_file m_file = nullptr;
    std::string m_handle;
    SteadyClock::time_point m_lastMove;
    MinSpeedWatch m_speedWatch;
    std::int64_t m_lastProgressMs = 0;
    std::int64_t m_heldMs = 0;
    std::int64_t m_startBytes = 0;
    std::int64_t m_movedSinceStart = 0;
    bool m_failed = false;
    bool m_channelUsable = true; // false once a reply was lost or the channel broke
};

} // namespace bw::net
