// SPDX-License-Identifier: MIT
#include "support/tls_http_responder.h"

#include <stdexcept>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bw::test {

namespace {

constexpr int kStepMs = 10000;

} // namespace

TlsHttpResponder::TlsHttpResponder(const CertifiedKey &identity, std::vector<Response> responses)
    : m_responses(std::move(responses))
{
    m_context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(m_context, identity.certificate.get());
    SSL_CTX_use_PrivateKey(m_context, identity.key.get());
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listenFd, 8) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot listen for the TLS HTTP test server");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

TlsHttpResponder::~TlsHttpResponder()
{
    ::shutdown(m_listenFd, SHUT_RDWR); // wakes the accept
    m_thread.join();
    ::close(m_listenFd);
    SSL_CTX_free(m_context);
}

std::vector<std::string> TlsHttpResponder::requests() const
{
    std::lock_guard lock{m_mutex};
    return m_requests;
}

void TlsHttpResponder::serve()
{
    for (const Response &response : m_responses) {
        pollfd ready{m_listenFd, POLLIN, 0};
        if (::poll(&ready, 1, kStepMs) != 1)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        answer(fd, response);
        ::close(fd);
    }
}

void TlsHttpResponder::answer(int fd, const Response &response)
{
    SSL *ssl = SSL_new(m_context);
    SSL_set_fd(ssl, fd);
    timeval limit{kStepMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (SSL_accept(ssl) == 1) {
        std::string request;
        char buffer[4096];
        std::size_t got = 0;
        while (request.find("\r\n\r\n") == std::string::npos
            && SSL_read_ex(ssl, buffer, sizeof buffer, &got) == 1)
            request.append(buffer, got);
        {
            std::lock_guard lock{m_mutex};
            m_requests.push_back(request);
        }
        std::size_t sent = 0;
        SSL_write_ex(ssl, response.bytes.data(), response.bytes.size(), &sent);
        if (response.closeNotify)
            SSL_shutdown(ssl);
    }
    SSL_free(ssl);
}

} // namespace bw::test
