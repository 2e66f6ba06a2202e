// SPDX-License-Identifier: MIT
#include "support/ranged_http_server.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bw::test {

namespace {

// The value of header `name` ("Range: ") in `header`, or "".
std::string field(const std::string &header, const std::string &name)
{
    const auto start = header.find("\r\n" + name);
    if (start == std::string::npos)
        return {};
    const auto from = start + 2 + name.size();
    return header.substr(from, header.find("\r\n", from) - from);
}

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

} // namespace

RangedHttpServer::RangedHttpServer(std::string body, std::string etag)
    : m_body(std::move(body))
    , m_etag(std::move(etag))
    , m_acceptor([this] { acceptLoop(); })
{}

RangedHttpServer::~RangedHttpServer()
{
    m_stop.store(true);
    m_acceptor.join();
    m_connections.clear();
}

void RangedHttpServer::replaceAtFirstIfRange(std::string body, std::string etag)
{
    std::lock_guard lock{m_mutex};
    m_nextBody = std::move(body);
    m_nextEtag = std::move(etag);
}

void RangedHttpServer::acceptLoop()
{
    while (!m_stop.load()) {
        pollfd ready{m_listener.fd(), POLLIN, 0};
        if (::poll(&ready, 1, 20) <= 0)
            continue;
        const int fd = ::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

void RangedHttpServer::serve(int fd)
{
    const int open = ++m_open;
    m_peak.store(std::max(m_peak.load(), open));
    std::string header;
    char buffer[4096];
    while (header.find("\r\n\r\n") == std::string::npos && !m_stop.load()) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 20) <= 0)
            continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        header.append(buffer, static_cast<std::size_t>(got));
    }
    ++m_requests;
    std::string body;
    std::string etag;
    const std::string ifRange = field(header, "If-Range: ");
    {
        std::lock_guard lock{m_mutex};
        if (!ifRange.empty() && !m_nextEtag.empty()) {
            m_body = std::exchange(m_nextBody, {});
            m_etag = std::exchange(m_nextEtag, {});
        }
        body = m_body;
        etag = m_etag;
    }
    long long first = 0;
    long long last = static_cast<long long>(body.size()) - 1;
    const std::string range = field(header, "Range: ");
    const bool ranged = !range.empty() && (ifRange.empty() || ifRange == etag)
        && std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) >= 1;
    last = std::min(last, static_cast<long long>(body.size()) - 1);
    const std::string part =
        body.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
    std::string reply = ranged ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes "
            + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(body.size()) + "\r\n"
                               : "HTTP/1.1 200 OK\r\n";
    reply += "ETag: " + etag + "\r\nContent-Length: " + std::to_string(ranged ? part.size() : body.size())
        + "\r\nConnection: close\r\n\r\n";
    if (sendAll(fd, reply))
        sendAll(fd, ranged ? part : body);
    ::close(fd);
    --m_open;
}

} // namespace bw::test
