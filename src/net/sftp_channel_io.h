// SPDX-License-Identifier: MIT
// SFTP packets straight on the session's channel, for the pipelined transfers: requests are written
// whole, and replies are read in a wait that polls the socket together with the stop descriptor, so a
// stop or the time-out ends it at once. libssh's own SFTP calls must not run meanwhile.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <libssh/libssh.h>

#include "net/ssh_connection.h"

namespace bw::net {

// SFTP version 3 packet types and status codes used by the transfers.
inline constexpr std::uint8_t kSftpRead = 5;
inline constexpr std::uint8_t kSftpWrite = 6;
inline constexpr std::uint8_t kSftpStatus = 101;
inline constexpr std::uint8_t kSftpData = 103;
inline constexpr std::uint32_t kSftpStatusOk = 0;
inline constexpr std::uint32_t kSftpStatusEof = 1;

// Big-endian fields of a packet being built or read.
void appendUint32(std::string &packet, std::uint32_t value);
void appendUint64(std::string &packet, std::uint64_t value);
std::uint32_t readUint32(std::string_view bytes, std::size_t at);

// The start of a READ or WRITE request (length field, type, id, handle, offset); a WRITE's data
// length and data follow. The length field counts `payloadBytes` more bytes after this header.
std::string sftpRequestHeader(std::uint8_t type, std::uint32_t id, std::string_view handle,
    std::uint64_t offset, std::size_t payloadBytes);

enum class SftpWait
{
    Packet,
    Stopped, // the stop request came
    TimedOut, // nothing arrived in time
    Failed, // the channel ended or broke, or a packet was malformed
};

class SftpChannelIo
{
public:
    SftpChannelIo(SshConnection &connection, ssh_channel channel, int timeoutSeconds);

    // Writes all of `bytes` (libssh waits for the peer's window; the time-out bounds it, and stays
    // armed until the caller's endCall on the connection).
    bool send(std::string_view bytes);
    // The next whole packet (its type byte first, without the length field), valid until the next
    // call. Waits until `deadline`; with `honourStop` false a transfer-only stop is not seen (a
    // session stop shuts the socket, which still ends the wait).
    SftpWait nextPacket(
        std::string_view &packet, std::chrono::steady_clock::time_point deadline, bool honourStop);

private:
    bool waitReadable(std::chrono::steady_clock::time_point deadline, bool honourStop, SftpWait &outcome);

    SshConnection &m_connection;
    ssh_channel m_channel;
    int m_timeoutSeconds;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_streaming = false; // the last read brought data
};

} // namespace bw::net
