// SPDX-License-Identifier: MIT
// Socket operations, the error record and the reply wait. The worker jobs live in socket_jobs.cpp.
#include "net/socket_connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/diagnostic_log.h"
#include "net/listen_ports.h"
#include "net/log_levels.h"
#include "platform/socket_errors.h"

namespace bw::net {

namespace {

constexpr int kSliceSeconds = 5;
constexpr int kRandomPortAttempts = 8;

bool isAbortOrReset(int socketError)
{
    return socketError == platform::kSocketConnectionAborted
        || socketError == platform::kSocketConnectionReset;
}

void setNonBlocking(int fd)
{
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void setPortOf(sockaddr_storage &storage, int port)
{
    const auto network = htons(static_cast<std::uint16_t>(port));
    if (storage.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port = network;
    else
        reinterpret_cast<sockaddr_in *>(&storage)->sin_port = network;
}

// The address family of an open socket, or AF_UNSPEC.
int socketFamily(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return AF_UNSPEC;
    return address.ss_family;
}

} // namespace

SocketConnection::SocketConnection()
    : m_clock(&platform::SystemClock::instance())
{
    reset();
}

SocketConnection::~SocketConnection()
{
    stopWorker();
    close();
    {
        std::lock_guard lock{m_stateLock};
        m_filePath.clear();
        m_pendingText.clear();
    }
    setStopError(Exiting);
}

void SocketConnection::stopWorker()
{
    if (isFinished())
        return;
    // A running job ends at its next test of the record; the idle worker wakes for the stop.
    setStopError(Exiting);
    requestStop();
    m_workEvent.set();
    // The idle worker runs for the connection's whole life: end and collect it here, before any
    // destructor looks for a thread that is still running.
    waitUntilStopped();
    isFinished();
}

void SocketConnection::setClock(const platform::Clock *clock)
{
    m_clock.store(clock ? clock : &platform::SystemClock::instance());
}

ByteStream &SocketConnection::stream()
{
    if (m_layer)
        return *m_layer;
    return m_tcp;
}

void SocketConnection::setStreamLayer(std::unique_ptr<ByteStream> layer)
{
    m_layer = std::move(layer);
}

void SocketConnection::dropSocket()
{
    if (m_layer) {
        m_layer->close();
        m_layer.reset();
    }
    m_tcp.close();
    m_state.store(SocketState::None);
}

// ---- error record ----

ErrorCode SocketConnection::error() const
{
    std::lock_guard lock{m_errorLock};
    return m_error;
}

void SocketConnection::clearError()
{
    std::lock_guard lock{m_errorLock};
    m_error.clear();
    m_stop.set(false);
}

bool SocketConnection::clearErrorUnlessStopped()
{
    // One step under the lock: a stop written by another thread between a test and a clear would be lost.
    std::lock_guard lock{m_errorLock};
    if (m_stop.isSet())
        return false;
    m_error.clear();
    return true;
}

void SocketConnection::setError(ErrorCategory category, std::int32_t code)
{
    std::lock_guard lock{m_errorLock};
    m_error.set(category, code);
    m_stop.set(category == CatStop);
}

void SocketConnection::setError(const ErrorCode &record)
{
    std::lock_guard lock{m_errorLock};
    m_error = record;
    m_stop.set(record.isStop());
}

void SocketConnection::recordSocketError(int socketErrorNumber)
{
    std::lock_guard lock{m_errorLock};
    m_error.setSocketError(socketErrorNumber);
    m_stop.set(false);
}

void SocketConnection::setLocalError(std::int32_t code)
{
    setError(CatLocal, code);
}

void SocketConnection::setStopError(std::int32_t code)
{
    setError(CatStop, code);
}

bool SocketConnection::isStopRequested() const
{
    return m_stop.isSet();
}

void SocketConnection::setErrorStatus(std::int32_t status)
{
    std::lock_guard lock{m_errorLock};
    m_error.setStatus(status);
}

void SocketConnection::setErrorDetail(std::string detail)
{
    std::lock_guard lock{m_errorLock};
    m_error.setDetail(std::move(detail));
}

// ---- socket operations ----

bool SocketConnection::createSocket()
{
    clearError();
    m_layer.reset();
    if (const int err = m_tcp.open(); err != 0) {
        recordSocketError(platform::socketErrorFromErrno(err));
        m_state.store(SocketState::None);
        return false;
    }
    m_state.store(SocketState::Created);
    return true;
}

bool SocketConnection::createAndBind(int port, IpFamily family)
{
    clearError();
    m_layer.reset();
    const int domain = family == IpFamily::V6 ? AF_INET6 : AF_INET;
    if (const int err = m_tcp.open(domain); err != 0) {
        recordSocketError(platform::socketErrorFromErrno(err));
        m_state.store(SocketState::None);
        return false;
    }
    m_state.store(SocketState::Created);
    if (port != 0) {
        int on = 1;
        ::setsockopt(m_tcp.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (family == IpFamily::V6) {
        auto *address = reinterpret_cast<sockaddr_in6 *>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_any;
        address->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *address;
    } else {
        auto *address = reinterpret_cast<sockaddr_in *>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_ANY);
        address->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *address;
    }
    if (port == 0) {
        // Any free port: a random one of the ephemeral range first (see listen_ports.h), the kernel's
        // own search only when a few draws all met ports in use.
        for (int attempt = 0; attempt < kRandomPortAttempts; ++attempt) {
            const int candidate = ListenPorts::system().pick();
            if (candidate == 0)
                break;
            setPortOf(storage, candidate);
            if (::bind(m_tcp.fd(), reinterpret_cast<sockaddr *>(&storage), length) == 0)
                return true;
            if (errno != EADDRINUSE)
                break;
        }
        setPortOf(storage, 0);
    }
    if (::bind(m_tcp.fd(), reinterpret_cast<sockaddr *>(&storage), length) != 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        return false;
    }
    return true;
}

void SocketConnection::setConnectTimeoutSeconds(int seconds)
{
    m_connectTimeoutMs = seconds > 0 ? seconds * 1000 : 60000;
}

bool SocketConnection::connect(const std::string &host, int port)
{
    clearError();
    m_state.store(SocketState::Connecting);
    m_replies.clear();
    const std::vector<SocketAddress> addresses = resolveHost(host, port, m_resolver);
    if (addresses.empty()) {
        recordSocketError(platform::kSocketInvalidArgument);
        m_state.store(m_tcp.isOpen() ? SocketState::Created : SocketState::None);
        return false;
    }
    int socketError = 0;
    for (const SocketAddress &address : addresses) {
        if (isStopRequested()) {
            m_state.store(SocketState::Created);
            return false;
        }
        socketError = connectTo(address);
        if (socketError == 0) {
            m_state.store(SocketState::Connected);
            return true;
        }
        if (socketError < 0) {
            m_state.store(SocketState::Created);
            return false;
        }
        std::string text;
        int ignored = 0;
        addressText(address.data(), text, ignored);
        core::DiagnosticLog::instance().write("Connecting to " + text + " port " + std::to_string(port)
                + " failed with socket error " + std::to_string(socketError),
            kLogOutcome);
    }
    // A failed connect leaves the socket unusable: put a fresh one in its place.
    const bool fresh = m_tcp.open(addresses.back().family()) == 0;
    recordSocketError(socketError);
    m_state.store(fresh ? SocketState::Created : SocketState::None);
    return false;
}

bool SocketConnection::beginConnect(const std::string &host, int port)
{
    clearError();
    m_replies.clear();
    const std::vector<SocketAddress> addresses = resolveHost(host, port, m_resolver);
    if (addresses.empty()) {
        recordSocketError(platform::kSocketInvalidArgument);
        return false;
    }
    const SocketAddress &address = addresses.front();
    if (!m_tcp.isOpen() || socketFamily(m_tcp.fd()) != address.family()) {
        m_layer.reset();
        if (const int err = m_tcp.open(address.family()); err != 0) {
            recordSocketError(platform::socketErrorFromErrno(err));
            m_state.store(SocketState::None);
            return false;
        }
    }
    setNonBlocking(m_tcp.fd());
    if (::connect(m_tcp.fd(), address.data(), address.length) == 0) {
        m_state.store(SocketState::Connected);
        return true;
    }
    int failure = errno;
    if (failure == EINPROGRESS || failure == EINTR) {
        // A near server has often answered already (a refusal on the same machine always has): a
        // connect that has failed is reported now, before anything is sent for it.
        pollfd entry{m_tcp.fd(), POLLOUT, 0};
        if (::poll(&entry, 1, 0) <= 0 || (entry.revents & (POLLERR | POLLHUP)) == 0) {
            m_state.store(SocketState::Connecting);
            return true;
        }
        socklen_t length = sizeof failure;
        ::getsockopt(m_tcp.fd(), SOL_SOCKET, SO_ERROR, &failure, &length);
        if (failure == 0)
            failure = ECONNREFUSED;
    }
    recordSocketError(platform::socketErrorFromErrno(failure));
    m_tcp.close();
    m_state.store(SocketState::None);
    return false;
}

bool SocketConnection::finishConnect()
{
    if (m_state.load() != SocketState::Connecting)
        return isConnected();
    const int socketError = connectOutcome();
    if (socketError < 0) {
        m_tcp.close();
        m_state.store(SocketState::None);
        return false;
    }
    if (socketError != 0) {
        recordSocketError(socketError);
        m_tcp.close();
        m_state.store(SocketState::None);
        return false;
    }
    m_state.store(SocketState::Connected);
    return true;
}

int SocketConnection::connectOutcome()
{
    const WaitResult ready = m_tcp.wait(StreamInterest::Write, m_connectTimeoutMs);
    switch (ready) {
    case WaitResult::Stopped:
        return -1;
    case WaitResult::TimedOut:
        return platform::socketErrorFromErrno(ETIMEDOUT);
    case WaitResult::Failed:
        return platform::socketErrorFromErrno(errno);
    default:
        break;
    }
    int pending = 0;
    socklen_t length = sizeof pending;
    ::getsockopt(m_tcp.fd(), SOL_SOCKET, SO_ERROR, &pending, &length);
    return platform::socketErrorFromErrno(pending);
}

int SocketConnection::connectTo(const SocketAddress &address)
{
    // A socket made earlier is reused when it has the right family; otherwise a fresh one replaces it.
    if (!m_tcp.isOpen() || socketFamily(m_tcp.fd()) != address.family()) {
        m_layer.reset();
        if (const int err = m_tcp.open(address.family()); err != 0)
            return platform::socketErrorFromErrno(err);
    }
    const int fd = m_tcp.fd();
    setNonBlocking(fd);
    int socketError = 0;
    if (::connect(fd, address.data(), address.length) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            socketError = platform::socketErrorFromErrno(errno);
        } else {
            socketError = connectOutcome();
            if (socketError < 0)
                return -1;
        }
    }
    // The next address needs a socket that has not tried to connect.
    if (socketError != 0)
        m_tcp.close();
    return socketError;
}

bool SocketConnection::listen(int backlog)
{
    clearError();
    m_state.store(SocketState::Listening);
    if (::listen(m_tcp.fd(), backlog) != 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        m_state.store(SocketState::Created);
        return false;
    }
    return true;
}

bool SocketConnection::acceptInto(SocketConnection &target, int seconds)
{
    return acceptInto(target, std::chrono::seconds(seconds));
}

bool SocketConnection::acceptInto(SocketConnection &target, std::chrono::milliseconds limit)
{
    // A stop written while the command that announced the connection was still under way ends the
    // wait too: clearing it here would leave the wait to run its whole course.
    if (!clearErrorUnlessStopped())
        return false;
    target.close();
    const WaitResult ready = m_tcp.wait(StreamInterest::Read, static_cast<int>(limit.count()));
    if (ready == WaitResult::TimedOut || ready == WaitResult::Stopped)
        return false;
    if (ready == WaitResult::Failed) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        return false;
    }
    const int fd = ::accept4(m_tcp.fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        return false;
    }
    target.m_tcp.adopt(fd);
    target.m_state.store(SocketState::Connected);
    return true;
}

bool SocketConnection::close()
{
    clearError();
    if (m_tcp.isOpen()) {
        m_state.store(SocketState::Closing);
        if (m_layer) {
            m_layer->close();
            m_layer.reset();
        }
        if (const int err = m_tcp.close(); err != 0)
            recordSocketError(platform::socketErrorFromErrno(err));
    }
    m_state.store(SocketState::None);
    return !error().isSet();
}

bool SocketConnection::shutdown(ShutdownDirection direction)
{
    if (m_state.load() == SocketState::None || !m_tcp.isOpen())
        return true;
    if (const int err = stream().shutdown(direction); err != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Socket shutdown error %d\n", platform::socketErrorFromErrno(err));
        core::DiagnosticLog::instance().write(text, kLogOutcome);
        return false;
    }
    return true;
}

bool SocketConnection::waitWritable(int seconds)
{
    if (!clearErrorUnlessStopped())
        return false;
    const WaitResult ready = stream().wait(StreamInterest::Write, seconds * 1000);
    if (ready == WaitResult::Ready)
        return true;
    if (ready == WaitResult::Failed) {
        recordSocketError(platform::socketErrorFromErrno(errno));
    } else if (ready == WaitResult::TimedOut) {
        int pending = 0;
        socklen_t length = sizeof pending;
        ::getsockopt(m_tcp.fd(), SOL_SOCKET, SO_ERROR, &pending, &length);
        recordSocketError(platform::socketErrorFromErrno(pending));
    }
    return false;
}

bool SocketConnection::waitReadable(int seconds)
{
    if (!clearErrorUnlessStopped())
        return false;
    const WaitResult ready = stream().wait(StreamInterest::Read, seconds * 1000);
    if (ready == WaitResult::Failed)
        recordSocketError(platform::socketErrorFromErrno(errno));
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
            return false;
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

bool SocketConnection::sendWhenWritable(const char *data, std::int64_t len, std::int64_t &sent)
{
    sent = 0;
    if (!clearErrorUnlessStopped())
        return false;
    if (!m_tcp.isOpen())
        return false;
    const WaitResult ready = stream().wait(StreamInterest::Write, 0);
    if (ready == WaitResult::Stopped)
        return false;
    if (ready != WaitResult::Ready)
        return true;
    return sendDirect(data, len, sent);
}

bool SocketConnection::sendDirect(const char *data, std::int64_t len, std::int64_t &sent)
{
    sent = 0;
    if (!clearErrorUnlessStopped())
        return false;
    if (!m_tcp.isOpen())
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
    if (!clearErrorUnlessStopped())
        return false;
    if (!m_tcp.isOpen())
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
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    std::string text;
    int port = 0;
    if (::getpeername(m_tcp.fd(), reinterpret_cast<sockaddr *>(&address), &length) != 0
        || !addressText(reinterpret_cast<const sockaddr *>(&address), text, port))
        return {};
    return text;
}

int SocketConnection::peerPort() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    std::string text;
    int port = 0;
    if (::getpeername(m_tcp.fd(), reinterpret_cast<sockaddr *>(&address), &length) != 0
        || !addressText(reinterpret_cast<const sockaddr *>(&address), text, port))
        return 0;
    return port;
}

bool SocketConnection::isIpv6() const
{
    return socketFamily(m_tcp.fd()) == AF_INET6;
}

// ---- replies ----

int SocketConnection::readReply(int seconds, std::deque<std::string> *sink)
{
    int code = m_replies.takeReply(sink);
    char chunk[4096];
    std::size_t replyBytes = 0;
    while (code == -1) {
        if (!waitReadableSliced(seconds))
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
