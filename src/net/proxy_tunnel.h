// SPDX-License-Identifier: MIT
// Asks a proxy, over a stream already connected to it, for a tunnel to the server: SOCKS5 (RFC 1928,
// with the user and password of RFC 1929) or HTTP CONNECT (RFC 9110 9.3.6). Runs on the owner's
// thread of the stream; each wait ends at the deadline or at the stream's stop request.
#pragma once

#include <string>

#include "net/byte_stream.h"
#include "net/proxy_route.h"

namespace bw::net {

struct TunnelOutcome
{
    enum class Kind
    {
        Open, // the stream now carries the server's bytes
        ConnectionFailed, // the proxy went away, timed out or spoke nonsense
        Refused, // the proxy answered no: the login, a rule, or the server behind it
        Stopped,
    };

    Kind kind = Kind::ConnectionFailed;
    std::string reason; // for the user, after "Proxy connection failed: " or "Proxy refused: "
};

// `host` is a name (which the proxy resolves) or an address; `timeoutMs` bounds the whole exchange.
TunnelOutcome openSocks5Tunnel(
    ByteStream &stream, const ProxyRoute &proxy, const std::string &host, int port, int timeoutMs);
TunnelOutcome openHttpTunnel(
    ByteStream &stream, const ProxyRoute &proxy, const std::string &host, int port, int timeoutMs);

// "Basic dXNlcjpzZWNyZXQ=" for the proxy's user and password (RFC 7617); empty without a user.
std::string proxyAuthorization(const ProxyRoute &proxy);

} // namespace bw::net
