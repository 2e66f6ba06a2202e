// SPDX-License-Identifier: MIT
#include "net/proxy_tunnel.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <openssl/evp.h>

#include "core/url.h"

namespace bw::net {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = TunnelOutcome::Kind;

// The proxy's CONNECT answer is read a byte at a time: the server's first bytes may follow it at once
// and belong to whoever speaks to the server next. Its header has a bound, as any header here.
constexpr std::size_t kMaxConnectReplyBytes = 16 * 1024;

class Exchange
{
public:
    Exchange(ByteStream &stream, int timeoutMs)
        : m_stream(stream)
        , m_deadline(Clock::now() + std::chrono::milliseconds(timeoutMs))
    {}

    bool send(const std::string &bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const IoResult io =
                m_stream.write(bytes.data() + done, static_cast<std::int64_t>(bytes.size() - done));
            if (io.status == IoResult::Status::Moved)
                done += static_cast<std::size_t>(io.bytes);
            else if (io.status != IoResult::Status::WouldBlock)
                return fail("the connection to the proxy broke");
            else if (!wait(io.wants))
                return false;
        }
        return true;
    }

    bool receive(std::uint8_t *into, std::size_t size)
    {
        std::size_t done = 0;
        while (done < size) {
            const IoResult io =
                m_stream.read(reinterpret_cast<char *>(into + done), static_cast<std::int64_t>(size - done));
            if (io.status == IoResult::Status::Moved)
                done += static_cast<std::size_t>(io.bytes);
            else if (io.status == IoResult::Status::WouldBlock) {
                if (!wait(io.wants))
                    return false;
            } else
                return fail("the proxy closed the connection");
        }
        return true;
    }

    bool fail(std::string reason, Kind kind = Kind::ConnectionFailed)
    {
        m_outcome = {kind, std::move(reason)};
        return false;
    }

    TunnelOutcome failed(std::string reason, Kind kind = Kind::ConnectionFailed)
    {
        fail(std::move(reason), kind);
        return m_outcome;
    }

    TunnelOutcome outcome() const { return m_outcome; }

private:
    bool wait(StreamInterest interest)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        if (left.count() <= 0)
            return fail("the proxy did not answer in time");
        switch (m_stream.wait(interest, static_cast<int>(left.count()))) {
        case WaitResult::Ready:
            return true;
        case WaitResult::Stopped:
            return fail({}, Kind::Stopped);
        case WaitResult::TimedOut:
            return fail("the proxy did not answer in time");
        case WaitResult::Failed:
            break;
        }
        return fail(std::string("the connection to the proxy failed: ") + std::strerror(errno));
    }

    ByteStream &m_stream;
    const Clock::time_point m_deadline;
    TunnelOutcome m_outcome{Kind::Open, {}};
};

std::string socksReplyText(int code)
{
    // RFC 1928 6: the REP field.
    switch (code) {
    case 1:
        return "general SOCKS server failure";
    case 2:
        return "connection not allowed by ruleset";
    case 3:
        return "network unreachable";
    case 4:
        return "host unreachable";
    case 5:
        return "connection refused by the server";
    case 6:
        return "TTL expired";
    case 7:
        return "command not supported";
    case 8:
        return "address type not supported";
    default:
        return "SOCKS reply " + std::to_string(code);
    }
}

// RFC 1929: version 1, the user and the password, each with a length byte.
bool socksLogin(Exchange &exchange, const ProxyRoute &proxy)
{
    if (proxy.user.size() > 255 || proxy.password.size() > 255)
        return exchange.fail("the proxy user or password is longer than SOCKS5 allows", Kind::Refused);
    std::string request{'\x01', static_cast<char>(proxy.user.size())};
    request += proxy.user;
    request += static_cast<char>(proxy.password.size());
    request += proxy.password;
    std::uint8_t reply[2]{};
    if (!exchange.send(request) || !exchange.receive(reply, sizeof reply))
        return false;
    if (reply[1] != 0)
        return exchange.fail("the proxy did not accept the user and password", Kind::Refused);
    return true;
}

// RFC 1928 5: the destination as an address of either family, or as a name the proxy resolves.
bool appendDestination(std::string &request, const std::string &host, int port)
{
    std::string bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    unsigned char address[16]{};
    if (::inet_pton(AF_INET, bare.c_str(), address) == 1) {
        request += '\x01';
        request.append(reinterpret_cast<const char *>(address), 4);
    } else if (::inet_pton(AF_INET6, bare.c_str(), address) == 1) {
        request += '\x04';
        request.append(reinterpret_cast<const char *>(address), 16);
    } else {
        if (bare.empty() || bare.size() > 255)
            return false;
        request += '\x03';
        request += static_cast<char>(bare.size());
        request += bare;
    }
    request += static_cast<char>((port >> 8) & 0xFF);
    request += static_cast<char>(port & 0xFF);
    return true;
}

// Reads the bound address after a reply's ATYP, so nothing of it is left for the server's bytes.
bool skipBoundAddress(Exchange &exchange, std::uint8_t addressType)
{
    std::uint8_t buffer[255 + 2]{};
    std::size_t length = 0;
    if (addressType == 1)
        length = 4;
    else if (addressType == 4)
        length = 16;
    else if (addressType == 3) {
        std::uint8_t nameLength = 0;
        if (!exchange.receive(&nameLength, 1))
            return false;
        length = nameLength;
    } else
        return exchange.fail("the proxy's reply names an unknown address type");
    return exchange.receive(buffer, length + 2);
}

// "HTTP/1.1 407 Proxy Authentication Required" -> 407; 0 when the line is no status line.
int statusOf(const std::string &line)
{
    if (!line.starts_with("HTTP/") || line.size() < 12 || line[8] != ' ')
        return 0;
    int status = 0;
    for (std::size_t i = 9; i < 12; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        status = status * 10 + (line[i] - '0');
    }
    return status;
}

} // namespace

std::string proxyAuthorization(const ProxyRoute &proxy)
{
    if (proxy.user.empty())
        return {};
    const std::string login = proxy.user + ":" + proxy.password;
    std::vector<unsigned char> encoded(4 * ((login.size() + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(encoded.data(), reinterpret_cast<const unsigned char *>(login.data()),
        static_cast<int>(login.size()));
    return "Basic "
        + std::string(reinterpret_cast<const char *>(encoded.data()), static_cast<std::size_t>(length));
}

TunnelOutcome openSocks5Tunnel(
    ByteStream &stream, const ProxyRoute &proxy, const std::string &host, int port, int timeoutMs)
{
    Exchange exchange{stream, timeoutMs};
    // RFC 1928 3: version 5 and the methods offered, "no authentication" and, with a user, RFC 1929's.
    const bool withLogin = !proxy.user.empty();
    const std::string greeting =
        withLogin ? std::string("\x05\x02\x00\x02", 4) : std::string("\x05\x01\x00", 3);
    std::uint8_t chosen[2]{};
    if (!exchange.send(greeting) || !exchange.receive(chosen, sizeof chosen))
        return exchange.outcome();
    if (chosen[0] != 5)
        return exchange.failed("the proxy does not speak SOCKS5");
    if (chosen[1] == 0xFF || (chosen[1] == 2 && !withLogin) || (chosen[1] != 0 && chosen[1] != 2))
        return exchange.failed(
            withLogin ? "the proxy accepts none of our login methods" : "the proxy wants a user and password",
            Kind::Refused);
    if (chosen[1] == 2 && !socksLogin(exchange, proxy))
        return exchange.outcome();
    std::string request{'\x05', '\x01', '\x00'};
    if (!appendDestination(request, host, port))
        return exchange.failed("the server's name is too long for SOCKS5", Kind::Refused);
    std::uint8_t reply[4]{};
    if (!exchange.send(request) || !exchange.receive(reply, sizeof reply))
        return exchange.outcome();
    if (reply[0] != 5)
        return exchange.failed("the proxy's reply is not SOCKS5");
    if (reply[1] != 0)
        return exchange.failed(socksReplyText(reply[1]), Kind::Refused);
    skipBoundAddress(exchange, reply[3]);
    return exchange.outcome();
}

TunnelOutcome openHttpTunnel(
    ByteStream &stream, const ProxyRoute &proxy, const std::string &host, int port, int timeoutMs)
{
    Exchange exchange{stream, timeoutMs};
    const std::string authority = core::hostForUrl(host) + ":" + std::to_string(port);
    std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    if (const std::string login = proxyAuthorization(proxy); !login.empty())
        request += "Proxy-Authorization: " + login + "\r\n";
    request += "\r\n";
    if (!exchange.send(request))
        return exchange.outcome();
    std::string header;
    while (!header.ends_with("\r\n\r\n") && !header.ends_with("\n\n")) {
        if (header.size() >= kMaxConnectReplyBytes)
            return exchange.failed("the proxy's answer is too long");
        std::uint8_t byte = 0;
        if (!exchange.receive(&byte, 1))
            return exchange.outcome();
        header += static_cast<char>(byte);
    }
    const std::string statusLine = header.substr(0, header.find_first_of("\r\n"));
    const int status = statusOf(statusLine);
    if (status == 0)
        return exchange.failed("the proxy's answer is not HTTP");
    if (status < 200 || status > 299)
        return exchange.failed(statusLine.substr(9), Kind::Refused);
    return exchange.outcome();
}

} // namespace bw::net
