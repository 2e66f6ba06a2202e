// SPDX-License-Identifier: MIT
// SocketConnection: making, binding and connecting the socket (the name look-up included, which a stop
// ends too), listening and accepting.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

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
#include "net/socket_connection.h"
#include "platform/socket_errors.h"

namespace bw::net {

namespace {

constexpr int kRandomPortAttempts = 8;
// How often a wait for a name look-up looks at the stop request.
constexpr int kResolveSliceMs = 50;

// A look-up on a thread of its own, so that a stop ends the wait for it: the thread keeps this
// state alive and finishes on its own, and a late result is thrown away.
struct PendingLookup
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false; // guarded by mutex
    std::vector<SocketAddress> addresses; // guarded by mutex
};

// True when the host is an address already: getaddrinfo then answers without asking anybody.
bool isNumericHost(std::string host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    in6_addr v6{};
    in_addr v4{};
    return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
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

std::vector<SocketAddress> SocketConnection::resolve(const std::string &host, int port)
{
    if (isStopRequested())
        return {};
    if (!m_resolver && isNumericHost(host))
        return resolveHost(host, port);
    auto lookup = std::make_shared<PendingLookup>();
    std::thread([lookup, host, port, resolver = m_resolver] {
        std::vector<SocketAddress> found = resolveHost(host, port, resolver);
        std::lock_guard lock{lookup->mutex};
        lookup->addresses = std::move(found);
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock{lookup->mutex};
    while (!lookup->done.wait_for(
        lock, std::chrono::milliseconds(kResolveSliceMs), [&] { return lookup->finished; })) {
        if (isStopRequested())
            return {};
    }
    return std::move(lookup->addresses);
}

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
    if (m_proxy.isSet())
        return connectThroughProxy(host, port);
    m_tunnelHost.clear();
    clearError();
    m_state.store(SocketState::Connecting);
    m_replies.clear();
    const std::vector<SocketAddress> addresses = resolve(host, port);
    if (addresses.empty()) {
        if (isStopRequested())
            recordStop();
        else
            recordSocketError(platform::kSocketInvalidArgument);
        m_state.store(m_tcp.isOpen() ? SocketState::Created : SocketState::None);
        return false;
    }
    int socketError = 0;
    for (const SocketAddress &address : addresses) {
        if (isStopRequested()) {
            m_state.store(SocketState::Created);
            return recordStop();
        }
        socketError = connectTo(address);
        if (socketError == 0) {
            m_state.store(SocketState::Connected);
            return true;
        }
        if (socketError < 0) {
            m_state.store(SocketState::Created);
            return recordStop();
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
    // The tunnel needs answers from the proxy, so it is made here, whole.
    if (m_proxy.isSet())
        return connectThroughProxy(host, port);
    m_tunnelHost.clear();
    clearError();
    m_replies.clear();
    const std::vector<SocketAddress> addresses = resolve(host, port);
    if (addresses.empty()) {
        if (isStopRequested())
            return recordStop();
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
        return recordStop();
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
    if (!clearErrorUnlessStopped())
        return false;
    target.close();
    const WaitResult ready = m_tcp.wait(StreamInterest::Read, static_cast<int>(limit.count()));
    if (ready == WaitResult::Stopped)
        return recordStop();
    if (ready == WaitResult::TimedOut)
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

bool SocketConnection::isIpv6() const
{
    return socketFamily(m_tcp.fd()) == AF_INET6;
}

} // namespace bw::net
