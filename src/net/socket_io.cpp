// SPDX-License-Identifier: MIT
// SocketConnection: waits, reads and writes of the owner's thread, the addresses of both ends, and
// the reply wait of a control connection.
#include <algorithm>
#include <chrono>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>

#include "net/socket_connection.h"
#include "platform/socket_errors.h"

namespace bw::net {

namespace {

constexpr int kSliceSeconds = 5;

bool isAbortOrReset(int socketError)
{
    return socketError == platform::kSocketConnectionAborted
        || socketError == platform::kSocketConnectionReset;
}

// The other end of a connected socket as text and port; false when not connected.
bool peerOf(int fd, std::string &text, int &port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return ::getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0
        && addressText(reinterpret_cast<const sockaddr *>(&address), text, port);
}

} // namespace

bool SocketConnection::waitReadable(int seconds)
{
    if (!clearErrorUnlessStopped())
        return false;
    const WaitResult ready = stream().wait(StreamInterest::Read, seconds * 1000);
    if (ready == WaitResult::Failed)
        recordSocketError(platform::socketErrorFromErrno(errno));
    else if (ready == WaitResult::Stopped)
        recordStop();
    return ready == WaitResult::Ready;
}

bool SocketConnection::waitReadableSliced(int seconds)
{
    if (!clearErrorUnlessStopped())
        return false;
    int waited = 0;
    for (;;) {
        const WaitResult ready = stream().wait(StreamInterest::Read, kSliceSeconds * 1000);
        if (ready == WaitResult::Ready)
            return true;
        if (ready == WaitResult::Failed) {
            recordSocketError(platform::socketErrorFromErrno(errno));
            return false;
        }
        if (ready == WaitResult::Stopped)
            return recordStop();
        waited += kSliceSeconds;
        if (seconds > 0 && waited >= seconds)
            return false;
    }
}

void SocketConnection::closeSocketAfterFailure(int socketError)
{
    if (isAbortOrReset(socketError))
        dropSocket();
    recordSocketError(socketError);
}

bool SocketConnection::mayMoveBytes()
{
    return clearErrorUnlessStopped() && m_tcp.isOpen();
}

bool SocketConnection::sendWhenWritable(const char *data, std::int64_t len, std::int64_t &sent)
{
    sent = 0;
    if (!mayMoveBytes())
        return false;
    const WaitResult ready = stream().wait(StreamInterest::Write, 0);
    if (ready == WaitResult::Stopped)
        return recordStop();
    if (ready != WaitResult::Ready)
        return true;
    return sendDirect(data, len, sent);
}

bool SocketConnection::sendDirect(const char *data, std::int64_t len, std::int64_t &sent)
{
    sent = 0;
    if (!mayMoveBytes())
        return false;
    if (len < 0)
        len = static_cast<std::int64_t>(std::strlen(data));
    const IoResult io = stream().write(data, len);
    if (io.status == IoResult::Status::Moved) {
        sent = io.bytes;
        return true;
    }
    if (io.status == IoResult::Status::WouldBlock)
        return true;
    closeSocketAfterFailure(platform::socketErrorFromErrno(io.errorNumber));
    return !error().isSet();
}

bool SocketConnection::receive(char *buffer, std::int64_t size, std::int64_t &got)
{
    got = 0;
    if (!mayMoveBytes())
        return false;
    const IoResult io = stream().read(buffer, size);
    switch (io.status) {
    case IoResult::Status::Moved:
        got = io.bytes;
        return true;
    case IoResult::Status::WouldBlock:
        return true;
    case IoResult::Status::Closed:
        // The peer closed: the socket goes, and the record stays clear.
        m_endConfirmed = io.endConfirmed;
        dropSocket();
        return false;
    case IoResult::Status::Failed:
        break;
    }
    const int socketError = platform::socketErrorFromErrno(io.errorNumber);
    if (socketError == platform::kSocketMessageTooLong)
        return false;
    closeSocketAfterFailure(socketError);
    return false;
}

bool SocketConnection::localAddress(std::string &text, int &port)
{
    clearError();
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(m_tcp.fd(), reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        return false;
    }
    return addressText(reinterpret_cast<const sockaddr *>(&address), text, port);
}

std::string SocketConnection::peerAddress() const
{
    std::string text;
    int port = 0;
    return peerOf(m_tcp.fd(), text, port) ? text : std::string();
}

int SocketConnection::peerPort() const
{
    std::string text;
    int port = 0;
    return peerOf(m_tcp.fd(), text, port) ? port : 0;
}

// ---- replies ----

int SocketConnection::readReply(int seconds, std::deque<std::string> *sink)
{
    int code = m_replies.takeReply(sink);
    char chunk[4096];
    std::size_t replyBytes = 0;
    // Each wait has the time-out, and the whole reply a few time-outs: a server that sends one byte
    // just before every time-out would otherwise hold the wait for ever.
    using std::chrono::steady_clock;
    const steady_clock::time_point deadline =
        steady_clock::now() + std::chrono::seconds(std::int64_t{seconds} * kReplyTimeoutsPerReply);
    while (code == -1) {
        int waitSeconds = seconds;
        if (seconds > 0) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - steady_clock::now()).count();
            if (left <= 0)
                return -1;
            waitSeconds = static_cast<int>(std::min<std::int64_t>(seconds, left));
        }
        if (!waitReadableSliced(waitSeconds))
            return -1;
        std::int64_t got = 0;
        if (!receive(chunk, sizeof chunk, got))
            return -1;
        replyBytes += static_cast<std::size_t>(got);
        if (!m_replies.feed(chunk, static_cast<std::size_t>(got)) || replyBytes > kMaxReplyBytes) {
            // A line without end, or a reply that never ends: the server is not speaking the protocol.
            dropSocket();
            recordSocketError(platform::kSocketMessageTooLong);
            return -1;
        }
        code = m_replies.takeReply(sink);
    }
    return code;
}

} // namespace bw::net
