// SPDX-License-Identifier: MIT
// HttpConnection: the way to the server through a proxy. Plain HTTP through an HTTP proxy goes to
// the proxy as absolute-form requests (RFC 9112 3.2.2); HTTPS, and any request through SOCKS5, goes
// through a tunnel the socket opens, which the requests never see.
#include "core/url.h"
#include "net/http_connection.h"
#include "net/proxy_tunnel.h"

namespace bw::net {

bool HttpConnection::connectRoute(const std::string &host, int port)
{
    m_forwarding = m_proxy.kind == ProxyKind::Http && !m_tls;
    m_socket.setProxy(m_proxy);
    return m_forwarding ? m_socket.connectToProxy() : m_socket.connect(host, port);
}

std::vector<std::string> HttpConnection::routedRequest(std::vector<std::string> lines) const
{
    if (!m_forwarding || lines.empty())
        return lines;
    // "GET /a/b HTTP/1.1" -> "GET http://host:port/a/b HTTP/1.1"
    std::string &requestLine = lines.front();
    if (const auto space = requestLine.find(' '); space != std::string::npos)
        requestLine.insert(space + 1, "http://" + core::hostForUrl(m_host) + ":" + std::to_string(m_port));
    if (const std::string login = proxyAuthorization(m_proxy); !login.empty())
        lines.insert(lines.end() - 1, "Proxy-Authorization: " + login + "\r\n");
    return lines;
}

void HttpConnection::keepProxyRefusal()
{
    // RFC 9110 15.5.8: a 407 is the proxy's own answer, never the server's.
    if (const std::string status = statusLine(); m_forwarding && status.starts_with("407")) {
        ErrorCode record{CatProtocol, ProxyRefused};
        record.setStatus(407);
        record.setDetail("Proxy refused: proxy " + m_proxy.address() + ": " + status);
        m_socket.setError(record);
    }
}

} // namespace bw::net
