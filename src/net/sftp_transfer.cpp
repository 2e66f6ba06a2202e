// SPDX-License-Identifier: MIT
#include "net/sftp_transfer.h"

#include <algorithm>
#include <deque>
#include <map>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/min_speed_watch.h"
#include "net/sftp_channel_io.h"
#include "platform/unique_fd.h"

namespace bw::net {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Requests in flight hold up to 4 MiB (16 to 64 of them): enough to keep a fast link busy, and the
// peak memory small. Larger requests than the server allows are never sent, nor above 256 KiB.
constexpr std::uint32_t kInFlightBytes = 4 * 1024 * 1024;
constexpr std::int64_t kProgressEveryMs = 100;

std::uint32_t requestBytes(std::uint32_t allowed)
{
    return std::clamp<std::uint32_t>(allowed, 4096, kLargestRequestBytes);
}

std::size_t requestsInFlight(std::uint32_t chunkBytes)
{
    return std::clamp<std::size_t>(kInFlightBytes / chunkBytes, 16, 64);
}

struct Request
{
    std::uint32_t id = 0;
    std::int64_t offset = 0;
    std::uint32_t length = 0;
};

std::deque<Request>::iterator findRequest(std::deque<Request> &inFlight, std::uint32_t id)
{
    return std::find_if(
        inFlight.begin(), inFlight.end(), [id](const Request &request) { return request.id == id; });
}

// What a transfer loop does after sending: read a reply, send more first, or stop.
enum class Turn
{
    Reply,
    SendFirst,
    Over,
};

// What the download and the upload share: the file handle, the ids, the pacing and the outcome.
class Pipeline
{
public:
    Pipeline(SshConnection &connection, sftp_session sftp, const SftpTransferRules &rules)
        : m_connection(connection)
        , m_sftp(sftp)
        , m_rules(rules)
        , m_io(connection, sftp->channel, rules.timeoutSeconds)
        , m_ticket(rules.speedLimits ? rules.speedLimits->rateLimiter().join() : RateLimiter::Ticket())
        , m_lastMove(SteadyClock::now())
        , m_speedWatch(minSpeed(rules), rules.minSpeedGraceSeconds, nowMs(), 0)
    {}

    ~Pipeline()
    {
        closeRemote();
        m_connection.endCall();
    }

    bool openRemote(const std::string &path, int accessType, mode_t mode)
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

    // The server's reply to a close tells whether a written file is whole (a full disk shows here).
    bool closeRemote()
    {
        if (!m_file)
            return true;
        m_connection.beginCall(m_rules.timeoutSeconds);
        const int closed = sftp_close(m_file);
        m_connection.endCall();
        m_file = nullptr;
        return closed == SSH_OK || failRequest("Close", sftp_get_error(m_sftp));
    }

    std::uint32_t nextId() { return ++m_sftp->id_counter; }

    // How much may move now (at most `wanted`); 0 with `waitMs` when the shared limit says wait.
    std::uint32_t grant(std::uint32_t wanted, int &waitMs)
    {
        const RateLimiter::Grant granted = m_ticket.acquire(wanted);
        waitMs = granted.bytes > 0 ? 0 : std::max(granted.waitMs, 1);
        return static_cast<std::uint32_t>(std::min<std::int64_t>(granted.bytes, wanted));
    }

    // Sleeps `waitMs` unless a stop comes first (the shared limit made the transfer wait).
    bool holdBack(int waitMs)
    {
        const int stopFd = m_connection.stopSignal().wakeFd();
        pollfd entry{stopFd, POLLIN, 0};
        ::poll(&entry, 1, std::min(waitMs, 1000));
        m_heldMs += waitMs;
        return !m_connection.stopSignal().isSet() || fail(SftpWait::Stopped);
    }

    // The next reply, or false with the reason recorded. Draining ignores a transfer-only stop.
    bool nextReply(std::string_view &packet, bool draining = false)
    {
        const auto deadline =
            m_lastMove + std::chrono::seconds(m_rules.timeoutSeconds > 0 ? m_rules.timeoutSeconds : 30);
        const SftpWait outcome = m_io.nextPacket(packet, deadline, !draining);
        if (outcome == SftpWait::Packet && packet.size() >= 5)
            return true;
        return fail(outcome == SftpWait::Packet ? SftpWait::Failed : outcome);
    }

    // The reply to one of the requests in flight, with that request. Over when the transfer failed,
    // or when nothing is in flight and nothing more will be sent (`allSent`); SendFirst after a wait
    // that the shared rate limit asked for.
    Turn awaitReply(std::deque<Request> &inFlight, bool allSent, int waitMs, std::string_view &reply,
        std::deque<Request>::iterator &found)
    {
        if (m_failed)
            return Turn::Over;
        if (inFlight.empty()) {
            if (allSent || (waitMs > 0 && !holdBack(waitMs)))
                return Turn::Over;
            return Turn::SendFirst;
        }
        if (!nextReply(reply))
            return Turn::Over;
        found = findRequest(inFlight, readUint32(reply, 1));
        if (found == inFlight.end()) {
            fail(SftpWait::Failed);
            return Turn::Over;
        }
        return Turn::Reply;
    }

    bool send(std::string_view bytes) { return m_io.send(bytes) || fail(SftpWait::Failed); }

    // Bytes moved: progress (at most every 100 ms) and the minimum speed.
    bool moved(std::int64_t doneBytes, std::int64_t totalBytes)
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

    // The end of a transfer: the last progress, the replies still out read (after a failure), and the
    // file closed; true when it all succeeded.
    bool finish(std::deque<Request> &inFlight, std::int64_t doneBytes, std::int64_t totalBytes)
    {
        const bool failed = m_failed;
        if (failed)
            drain(inFlight);
        if (m_rules.progress)
            m_rules.progress(doneBytes, totalBytes);
        return closeRemote() && !failed;
    }

    void setStartBytes(std::int64_t bytes) { m_startBytes = bytes; }

    // Records why the transfer ends; keeps the first reason. Returns false.
    bool fail(SftpWait outcome)
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

    bool failRequest(const std::string &what, int status)
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

    bool failLocal(std::int32_t code)
    {
        if (!m_failed)
            m_connection.setError(ErrorCode{CatLocal, code});
        m_failed = true;
        return false;
    }

    bool hasFailed() const { return m_failed; }

    // After a failure with requests still out: when the channel still works (a stop of this transfer,
    // a refused request, a local file error), reads their replies so that it is clean for the next
    // request; otherwise, or when that fails, the connection is given up. The first error stays.
    void drain(std::deque<Request> &inFlight)
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
            std::erase_if(inFlight, [id](const Request &request) { return request.id == id; });
        }
    }

    // A session stop has shut the socket already; otherwise the server is cut off here.
    void giveUp()
    {
        m_channelUsable = false;
        m_connection.markBroken();
    }

    const std::string &handle() const { return m_handle; }

private:
    static std::int64_t nowMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now().time_since_epoch())
            .count();
    }

    static int minSpeed(const SftpTransferRules &rules)
    {
        if (rules.minSpeedKBps > 0)
            return rules.minSpeedKBps;
        return rules.speedLimits ? rules.speedLimits->minKBps() : 0;
    }

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

bool writeAll(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool sftpDownload(SshConnection &connection, sftp_session sftp, const std::string &remotePath,
    const std::string &localPath, std::int64_t knownSizeBytes, bool resume, const SftpTransferRules &rules)
{
    Pipeline pipe{connection, sftp, rules};
    if (!pipe.openRemote(remotePath, O_RDONLY, 0))
        return false;
    std::int64_t totalBytes = knownSizeBytes;
    if (totalBytes <= 0) {
        connection.beginCall(rules.timeoutSeconds);
        if (sftp_attributes attributes = sftp_stat(sftp, remotePath.c_str())) {
            totalBytes = static_cast<std::int64_t>(attributes->size);
            sftp_attributes_free(attributes);
        }
        connection.endCall();
    }
    const platform::UniqueFd file{
        ::open(localPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (resume ? O_APPEND : O_TRUNC), 0644)};
    if (file.get() < 0)
        return pipe.failLocal(FileOpenError);

    struct stat info
    {};

    const std::int64_t startBytes = resume && ::fstat(file.get(), &info) == 0 ? info.st_size : 0;
    pipe.setStartBytes(startBytes);

    // Replies are written in file order, so the file never has a hole and can always be resumed.
    std::deque<Request> inFlight;
    std::map<std::int64_t, std::string> early; // data that came before an earlier request's
    std::int64_t nextOffset = startBytes;
    std::int64_t written = startBytes;
    std::int64_t endOffset = -1; // where the server said end of file
    int waitMs = 0;
    std::uint32_t chunkBytes = requestBytes(rules.limits.readBytes);
    const std::size_t maxInFlight = requestsInFlight(chunkBytes);
    while (!pipe.hasFailed()) {
        // Past the expected end only one request goes out at a time, to learn where the end is.
        while (endOffset < 0 && inFlight.size() < maxInFlight
            && (nextOffset < totalBytes || totalBytes <= 0 || inFlight.empty())) {
            const std::uint32_t length = pipe.grant(chunkBytes, waitMs);
            if (length == 0)
                break;
            const Request request{pipe.nextId(), nextOffset, length};
            std::string packet = sftpRequestHeader(kSftpRead, request.id, pipe.handle(), request.offset, 4);
            appendUint32(packet, length);
            if (!pipe.send(packet))
                break;
            inFlight.push_back(request);
            nextOffset += length;
        }
        std::string_view reply;
        std::deque<Request>::iterator found;
        const Turn turn = pipe.awaitReply(inFlight, endOffset >= 0, waitMs, reply, found);
        if (turn == Turn::Over)
            break;
        if (turn == Turn::SendFirst)
            continue;
        const Request request = *found;
        inFlight.erase(found);
        const auto type = static_cast<std::uint8_t>(reply[0]);
        if (type == kSftpStatus && reply.size() >= 9) {
            const std::uint32_t status = readUint32(reply, 5);
            if (status != kSftpStatusEof) {
                pipe.failRequest("Read " + remotePath, static_cast<int>(status));
                break;
            }
            endOffset = endOffset < 0 ? request.offset : std::min(endOffset, request.offset);
            continue;
        }
        if (type != kSftpData || reply.size() < 9 || readUint32(reply, 5) > request.length
            || reply.size() < 9 + std::size_t{readUint32(reply, 5)}) {
            pipe.fail(SftpWait::Failed);
            break;
        }
        const std::uint32_t length = readUint32(reply, 5);
        const std::string_view data = reply.substr(9, length);
        if (length < request.length) {
            // A short read: ask again for the rest, in its place in the file. A server that reads less
            // than asked gets smaller requests from now on.
            chunkBytes = std::max<std::uint32_t>(std::min(chunkBytes, length), 4096);
            const Request rest{pipe.nextId(), request.offset + length, request.length - length};
            std::string packet = sftpRequestHeader(kSftpRead, rest.id, pipe.handle(), rest.offset, 4);
            appendUint32(packet, rest.length);
            if (!pipe.send(packet))
                break;
            inFlight.push_back(rest);
        }
        if (request.offset != written) {
            early.emplace(request.offset, std::string(data));
            continue;
        }
        if (!writeAll(file.get(), data.data(), data.size())) {
            pipe.failLocal(FileWriteError);
            break;
        }
        written += length;
        for (auto next = early.find(written); next != early.end(); next = early.find(written)) {
            if (!writeAll(file.get(), next->second.data(), next->second.size())) {
                pipe.failLocal(FileWriteError);
                break;
            }
            written += static_cast<std::int64_t>(next->second.size());
            early.erase(next);
        }
        if (!pipe.moved(written, totalBytes))
            break;
    }
    // Every byte up to the end the server named must be in the file, in order.
    if (!pipe.hasFailed() && (!early.empty() || (endOffset >= 0 && written != endOffset)))
        pipe.fail(SftpWait::Failed);
    return pipe.finish(inFlight, written, totalBytes);
}

bool sftpUpload(SshConnection &connection, sftp_session sftp, const std::string &localPath,
    const std::string &remotePath, const SftpTransferRules &rules)
{
    Pipeline pipe{connection, sftp, rules};
    const platform::UniqueFd file{::open(localPath.c_str(), O_RDONLY | O_CLOEXEC)};

    struct stat info
    {};

    if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
        return pipe.failLocal(FileOpenError);
    const std::int64_t totalBytes = info.st_size;
    if (!pipe.openRemote(remotePath, O_WRONLY | O_CREAT | O_TRUNC, 0644))
        return false;

    std::deque<Request> inFlight;
    std::int64_t nextOffset = 0;
    std::int64_t done = 0;
    bool fileEnded = false;
    int waitMs = 0;
    std::string packet;
    std::vector<char> chunk;
    const std::uint32_t chunkBytes = requestBytes(rules.limits.writeBytes);
    const std::size_t maxInFlight = requestsInFlight(chunkBytes);
    while (!pipe.hasFailed()) {
        while (!fileEnded && inFlight.size() < maxInFlight) {
            const std::uint32_t wanted = pipe.grant(chunkBytes, waitMs);
            if (wanted == 0)
                break;
            chunk.resize(wanted);
            const ssize_t got = ::pread(file.get(), chunk.data(), wanted, nextOffset);
            if (got < 0) {
                pipe.failLocal(FileReadError);
                break;
            }
            if (got == 0) {
                fileEnded = true;
                break;
            }
            const Request request{pipe.nextId(), nextOffset, static_cast<std::uint32_t>(got)};
            packet =
                sftpRequestHeader(kSftpWrite, request.id, pipe.handle(), request.offset, 4 + request.length);
            appendUint32(packet, request.length);
            packet.append(chunk.data(), request.length);
            if (!pipe.send(packet))
                break;
            inFlight.push_back(request);
            nextOffset += got;
        }
        std::string_view reply;
        std::deque<Request>::iterator found;
        const Turn turn = pipe.awaitReply(inFlight, fileEnded, waitMs, reply, found);
        if (turn == Turn::Over)
            break;
        if (turn == Turn::SendFirst)
            continue;
        if (static_cast<std::uint8_t>(reply[0]) != kSftpStatus || reply.size() < 9) {
            pipe.fail(SftpWait::Failed);
            break;
        }
        const std::uint32_t status = readUint32(reply, 5);
        const std::uint32_t length = found->length;
        inFlight.erase(found);
        if (status != kSftpStatusOk) {
            pipe.failRequest("Write " + remotePath, static_cast<int>(status));
            break;
        }
        done += length;
        if (!pipe.moved(done, totalBytes))
            break;
    }
    return pipe.finish(inFlight, done, totalBytes);
}

} // namespace bw::net
