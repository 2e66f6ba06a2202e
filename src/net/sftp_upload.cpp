// SPDX-License-Identifier: MIT
// The pipelined SFTP upload: many WRITE requests out at once, each answered by a status.
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/sftp_pipeline.h"
#include "platform/unique_fd.h"

namespace bw::net {

bool sftpUpload(SshConnection &connection, sftp_session sftp, const std::string &localPath,
    const std::string &remotePath, const SftpTransferRules &rules)
{
    SftpPipeline pipe{connection, sftp, rules};
    const platform::UniqueFd file{::open(localPath.c_str(), O_RDONLY | O_CLOEXEC)};

    struct stat info
    {};

    if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
        return pipe.failLocal(FileOpenError);
    const std::int64_t totalBytes = info.st_size;
    if (!pipe.openRemote(remotePath, O_WRONLY | O_CREAT | O_TRUNC, 0644))
        return false;

    std::deque<SftpRequest> inFlight;
    std::int64_t nextOffset = 0;
    std::int64_t done = 0;
    bool fileEnded = false;
    int waitMs = 0;
    std::string packet;
    std::vector<char> chunk;
    const std::uint32_t chunkBytes = sftpRequestBytes(rules.limits.writeBytes);
    const std::size_t maxInFlight = sftpRequestsInFlight(chunkBytes);
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
            const SftpRequest request{pipe.nextId(), nextOffset, static_cast<std::uint32_t>(got)};
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
        std::deque<SftpRequest>::iterator found;
        const SftpTurn turn = pipe.awaitReply(inFlight, fileEnded, waitMs, reply, found);
        if (turn == SftpTurn::Over)
            break;
        if (turn == SftpTurn::SendFirst)
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
