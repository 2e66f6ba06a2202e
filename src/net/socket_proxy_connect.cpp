// SPDX-License-Identifier: MIT
// SocketConnection: connecting through a proxy. Never a direct connection in its place: a proxy that
// cannot be reached or says no ends the connect with the proxy's reason.
#include <arpa/inet.h>

#include "core/diagnostic_log.h"
#include "net/log_levels.h"
#include "net/proxy_tunnel.h"
#include "net/socket_connection.h"

namespace bw::net {

namespace {

bool isAddress(const std::string &host)
{
    unsigned char bytes[16]{};
    const std::string bare =
        host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
    return ::inet_pton(AF_INET, bare.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, bare.c_str(), bytes) == 1;
}

// The stored socket numbers (10000 and up) of the connect failures a user meets, in words.
std::string connectFailureText(int socketError)
{
    switch (socketError) {
    case 10060:
        return "connection timed out";
    case 10061:
        return "connection refused";
    case 10051:
    case 10065:
        return "no route to the proxy";
    default:
        return "socket error " + std::to_string(socketError);
    }
}

} // namespace

bool SocketConnection::recordProxyFailure(std::int32_t code, const std::string &reason)
{
    m_tcp.close();
    m_state.store(SocketState::None);
    ErrorCode record{CatProtocol, code};
    record.setDetail(std::string(ErrorCode::textFor(CatProtocol, code)) + ": " + reason);
    core::DiagnosticLog::instance().write(record.detail(), kLogOutcome);
    setError(record);
    return false;
}

bool SocketConnection::connectToProxy()
{
    clearError();
    m_tunnelHost.clear();
    m_state.store(SocketState::Connecting);
    m_replies.clear();
    if (m_proxy.port == 0)
        return recordProxyFailure(ProxyConnectFailed, "\"" + m_proxy.host + "\" is not a proxy URL");
    const std::vector<SocketAddress> addresses = resolve(m_proxy.host, m_proxy.port);
    if (isStopRequested())
        return recordStop();
    if (addresses.empty())
        return recordProxyFailure(
            ProxyConnectFailed, "cannot find the address of proxy " + m_proxy.address());
    int socketError = 0;
    for (const SocketAddress &address : addresses) {
        socketError = connectTo(address);
        if (socketError <= 0)
            break;
    }
    if (socketError < 0) {
        m_tcp.close();
        m_state.store(SocketState::None);
        return recordStop();
    }
    if (socketError != 0)
        return recordProxyFailure(
            ProxyConnectFailed, "proxy " + m_proxy.address() + ": " + connectFailureText(socketError));
    m_state.store(SocketState::Connected);
    return true;
}

bool SocketConnection::connectThroughProxy(const std::string &host, int port)
{
    if (!connectToProxy())
        return false;
    m_state.store(SocketState::Connecting);
    const std::string proxyName = "proxy " + m_proxy.address();
    // socks5:// resolves the server's name here and hands the proxy an address; socks5h:// and CONNECT
    // hand it the name.
    std::string target = host;
    if (m_proxy.kind == ProxyKind::Socks5 && !m_proxy.proxyResolvesNames && !isAddress(host)) {
        const std::vector<SocketAddress> found = resolve(host, port);
        if (found.empty())
            return isStopRequested() ? recordStop()
                                     : recordProxyFailure(ProxyRefused, "cannot find the address of " + host);
        int ignored = 0;
        addressText(found.front().data(), target, ignored);
    }
    const TunnelOutcome outcome = m_proxy.kind == ProxyKind::Http
        ? openHttpTunnel(m_tcp, m_proxy, target, port, m_connectTimeoutMs)
        : openSocks5Tunnel(m_tcp, m_proxy, target, port, m_connectTimeoutMs);
    switch (outcome.kind) {
    case TunnelOutcome::Kind::Open:
        break;
    case TunnelOutcome::Kind::Stopped:
        m_tcp.close();
        m_state.store(SocketState::None);
        return recordStop();
    case TunnelOutcome::Kind::Refused:
        return recordProxyFailure(ProxyRefused, proxyName + ": " + outcome.reason);
    case TunnelOutcome::Kind::ConnectionFailed:
        return recordProxyFailure(ProxyConnectFailed, proxyName + ": " + outcome.reason);
    }
    m_tunnelHost = host;
    m_tunnelPort = port;
    m_state.store(SocketState::Connected);
    core::DiagnosticLog::instance().write("Connected to " + serverText(), kLogOutcome);
    return true;
}

std::string SocketConnection::serverHost() const
{
    return m_tunnelHost.empty() ? peerAddress() : m_tunnelHost;
}

std::string SocketConnection::serverText() const
{
    if (m_tunnelHost.empty())
        return peerAddress() + " port " + std::to_string(peerPort());
    return m_tunnelHost + " port " + std::to_string(m_tunnelPort) + " via proxy " + m_proxy.address();
}

} // namespace bw::net
