// SPDX-License-Identifier: MIT
#include "support/tls_http_responder.h"

#include <sys/socket.h>
#include <unistd.h>

namespace bw::test {

namespace {

constexpr int kStepMs = 10000;

} // namespace

TlsHttpResponder::TlsHttpResponder(const CertifiedKey &identity, std::vector<Response> responses)
    : m_responses(std::move(responses))
{
    m_context = newServerContext(identity);
    m_listenFd = listenOnLoopback(m_port);
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
        const int fd = acceptWithin(m_listenFd, kStepMs);
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
