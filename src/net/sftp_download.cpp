// SPDX-License-Identifier: MIT
// The pipelined SFTP download: many READ requests out at once, the replies written in file order.
#include <cerrno>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/sftp_pipeline.h"
#include "platform/unique_fd.h"

namespace bw::net {

namespace {

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
    SftpPipeline pipe{connection, sftp, rules};
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
    std::deque<SftpRequest> inFlight;
    std::map<std::int64_t, std::string> early; // data that came before an earlier request's
    std::int64_t nextOffset = startBytes;
    std::int64_t written = startBytes;
    std::int64_t endOffset = -1; // where the server said end of file
    int waitMs = 0;
    std::uint32_t chunkBytes = sftpRequestBytes(rules.limits.readBytes);
    const std::size_t maxInFlight = sftpRequestsInFlight(chunkBytes);
    while (!pipe.hasFailed()) {
        // Past the expected end only one request goes out at a time, to learn where the end is.
        while (endOffset < 0 && inFlight.size() < maxInFlight
            && (nextOffset < totalBytes || totalBytes <= 0 || inFlight.empty())) {
            const std::uint32_t length = pipe.grant(chunkBytes, waitMs);
            if (length == 0)
                break;
            const SftpRequest request{pipe.nextId(), nextOffset, length};
            std::string packet = sftpRequestHeader(kSftpRead, request.id, pipe.handle(), request.offset, 4);
            appendUint32(packet, length);
            if (!pipe.send(packet))
                break;
            inFlight.push_back(request);
            nextOffset += length;
        }
        std::string_view reply;
        std::deque<SftpRequest>::iterator found;
        const SftpTurn turn = pipe.awaitReply(inFlight, endOffset >= 0, waitMs, reply, found);
        if (turn == SftpTurn::Over)
            break;
        if (turn == SftpTurn::SendFirst)
            continue;
        const SftpRequest request = *found;
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
            const SftpRequest rest{pipe.nextId(), request.offset + length, request.length - length};
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

} // namespace bw::net
