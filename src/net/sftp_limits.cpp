// SPDX-License-Identifier: MIT
// The request sizes an OpenSSH server announces through its limits@openssh.com extension.
#include <algorithm>
#include <chrono>

#include "net/sftp_channel_io.h"
#include "net/sftp_transfer.h"

namespace bw::net {

namespace {

constexpr std::uint8_t kSftpExtended = 200;
constexpr std::uint8_t kSftpExtendedReply = 201;

std::uint64_t readUint64(std::string_view bytes, std::size_t at)
{
    return std::uint64_t{readUint32(bytes, at)} << 32 | readUint32(bytes, at + 4);
}

} // namespace

SftpLimits sftpQueryLimits(SshConnection &connection, sftp_session sftp, int timeoutSeconds)
{
    SftpLimits limits;
    if (!sftp_extension_supported(sftp, "limits@openssh.com", "1"))
        return limits;
    // Extended request: id, the extension's name; the reply holds the packet, read and write limits
    // (0: none announced) and the open-handle limit, each a uint64.
    const std::string name = "limits@openssh.com";
    const std::uint32_t id = ++sftp->id_counter;
    std::string packet;
    appendUint32(packet, static_cast<std::uint32_t>(1 + 4 + 4 + name.size()));
    packet += static_cast<char>(kSftpExtended);
    appendUint32(packet, id);
    appendUint32(packet, static_cast<std::uint32_t>(name.size()));
    packet += name;
    SftpChannelIo io{connection, sftp->channel, timeoutSeconds};
    std::string_view reply;
    const bool sent = io.send(packet);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds > 0 ? timeoutSeconds : 30);
    const bool answered = sent && io.nextPacket(reply, deadline, true) == SftpWait::Packet;
    connection.endCall();
    if (!answered || reply.size() < 5 + 32 || static_cast<std::uint8_t>(reply[0]) != kSftpExtendedReply
        || readUint32(reply, 1) != id)
        return limits;
    const auto take = [](std::uint64_t announced, std::uint32_t fallback) {
        return announced == 0 ? kLargestRequestBytes
                              : static_cast<std::uint32_t>(std::min<std::uint64_t>(announced, fallback));
    };
    limits.readBytes = take(readUint64(reply, 5 + 8), kLargestRequestBytes);
    limits.writeBytes = take(readUint64(reply, 5 + 16), kLargestRequestBytes);
    return limits;
}

} // namespace bw::net
