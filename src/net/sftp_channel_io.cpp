// SPDX-License-Identifier: MIT
#include "net/sftp_channel_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>

namespace bw::net {

namespace {

// OpenSSH's sftp-server refuses packets above 256 KiB; a longer length field is garbage.
constexpr std::uint32_t kMaxPacketBytes = 256 * 1024 + 1024;
// How long libssh may wait for the next bytes while a reply streams in (a stop of the transfer alone
// is seen after at most this).
constexpr int kStreamingSliceMs = 5;
// The replies read ahead: also the channel window libssh grants the server (see nextPacket).
constexpr std::size_t kBufferBytes = 2 * 1024 * 1024;
static_assert(kBufferBytes >= 4 + kMaxPacketBytes);

} // namespace

void appendUint32(std::string &packet, std::uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
        static_cast<char>(value >> 8), static_cast<char>(value)};
    packet.append(bytes, 4);
}

void appendUint64(std::string &packet, std::uint64_t value)
{
    appendUint32(packet, static_cast<std::uint32_t>(value >> 32));
    appendUint32(packet, static_cast<std::uint32_t>(value));
}

std::uint32_t readUint32(std::string_view bytes, std::size_t at)
{
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i]));
    };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

std::string sftpRequestHeader(std::uint8_t type, std::uint32_t id, std::string_view handle,
    std::uint64_t offset, std::size_t payloadBytes)
{
    std::string header;
    header.reserve(32 + handle.size());
    const std::size_t bodyBytes = 1 + 4 + 4 + handle.size() + 8 + payloadBytes;
    appendUint32(header, static_cast<std::uint32_t>(bodyBytes));
    header += static_cast<char>(type);
    appendUint32(header, id);
    appendUint32(header, static_cast<std::uint32_t>(handle.size()));
    header.append(handle);
    appendUint64(header, offset);
    return header;
}

SftpChannelIo::SftpChannelIo(SshConnection &connection, ssh_channel channel, int timeoutSeconds)
    : m_connection(connection)
    , m_channel(channel)
    , m_timeoutSeconds(timeoutSeconds)
    , m_buffer(std::make_unique_for_overwrite<char[]>(kBufferBytes))
{}

bool SftpChannelIo::send(std::string_view bytes)
{
    // Armed for the whole transfer (the owner disarms it at the end): arming an armed watchdog costs
    // no wake-up. The margin lets the reply wait's own time-out, which names the stall, come first.
    m_connection.beginCall(m_timeoutSeconds + 5);
    const int written = ssh_channel_write(m_channel, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return written == static_cast<int>(bytes.size());
}

SftpWait SftpChannelIo::nextPacket(
    std::string_view &packet, std::chrono::steady_clock::time_point deadline, bool honourStop)
{
    for (;;) {
        const std::size_t held = m_end - m_begin;
        std::size_t wanted = 4;
        if (held >= 4) {
            const std::uint32_t length = readUint32({m_buffer.get() + m_begin, held}, 0);
            if (length == 0 || length > kMaxPacketBytes)
                return SftpWait::Failed;
            if (held >= 4 + std::size_t{length}) {
                packet = {m_buffer.get() + m_begin + 4, length};
                m_begin += 4 + length;
                return SftpWait::Packet;
            }
            wanted = 4 + length;
        }
        if (held == 0)
            m_begin = m_end = 0; // all the room again, for the widest window
        // Room for the whole packet after what is held: move the held part to the front.
        if (kBufferBytes - m_begin < wanted) {
            std::memmove(m_buffer.get(), m_buffer.get() + m_begin, held);
            m_begin = 0;
            m_end = held;
        }
        // Asking for all the room left lets libssh open the channel window that far, so the server
        // never waits for a window adjust while replies are in flight. While data streams in, libssh
        // waits a moment itself: it reads the socket 4 KiB at a time, and a poll of ours between each
        // read would double the system calls.
        if (honourStop && m_connection.stopSignal().isSet())
            return SftpWait::Stopped; // a steady stream of replies must not hide a stop
        const int got = ssh_channel_read_timeout(m_channel, m_buffer.get() + m_end,
            static_cast<std::uint32_t>(kBufferBytes - m_end), 0, m_streaming ? kStreamingSliceMs : 0);
        if (got > 0) {
            m_end += static_cast<std::size_t>(got);
            m_streaming = true;
            continue;
        }
        if (got < 0 || ssh_channel_is_eof(m_channel) || !ssh_channel_is_open(m_channel))
            return m_connection.stopSignal().isSet() ? SftpWait::Stopped : SftpWait::Failed;
        m_streaming = false;
        SftpWait outcome = SftpWait::Packet;
        if (!waitReadable(deadline, honourStop, outcome))
            return outcome;
    }
}

bool SftpChannelIo::waitReadable(
    std::chrono::steady_clock::time_point deadline, bool honourStop, SftpWait &outcome)
{
    StopSignal &stop = m_connection.stopSignal();
    if (honourStop && stop.isSet()) {
        outcome = SftpWait::Stopped;
        return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        outcome = SftpWait::TimedOut;
        return false;
    }
    pollfd entries[2] = {{m_connection.socketFd(), POLLIN, 0}, {honourStop ? stop.wakeFd() : -1, POLLIN, 0}};
    // Without the stop descriptor a stop is still seen within a slice.
    const int sliceMs =
        static_cast<int>(std::min<std::int64_t>(left.count(), stop.wakeFd() < 0 ? 100 : 1000));
    const int ready = ::poll(entries, 2, sliceMs);
    if (ready < 0 && errno != EINTR) {
        outcome = SftpWait::Failed;
        return false;
    }
    if (entries[1].revents & POLLIN) {
        if (stop.isSet()) {
            outcome = SftpWait::Stopped;
            return false;
        }
        stop.drainIfCleared();
    }
    return true;
}

} // namespace bw::net
