// SPDX-License-Identifier: MIT
#include "support/tls_ftp_responder.h"

#include <stdexcept>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bw::test {

namespace {

constexpr int kStepMs = 10000;

// A listener on 127.0.0.1 with a free port; -1 when none could be made.
int listenOnLoopback(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Accepts one connection within the step limit; -1 otherwise.
int acceptOne(int listenFd)
{
    pollfd ready{listenFd, POLLIN, 0};
    if (::poll(&ready, 1, kStepMs) != 1)
        return -1;
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    timeval limit{kStepMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

bool sendLine(SSL *ssl, const std::string &line)
{
    const std::string bytes = line + "\r\n";
    std::size_t sent = 0;
    return SSL_write_ex(ssl, bytes.data(), bytes.size(), &sent) == 1;
}

bool readLine(SSL *ssl, std::string &line)
{
    line.clear();
    char c = 0;
    std::size_t got = 0;
    while (SSL_read_ex(ssl, &c, 1, &got) == 1) {
        if (c == '\n')
            return true;
        if (c != '\r')
            line += c;
    }
    return false;
}

} // namespace

TlsFtpResponder::TlsFtpResponder(const CertifiedKey &identity, std::string data, bool closeNotify)
    : m_data(std::move(data))
    , m_closeNotify(closeNotify)
{
    m_context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(m_context, identity.certificate.get());
    SSL_CTX_use_PrivateKey(m_context, identity.key.get());
    int dataPort = 0;
    m_listenFd = listenOnLoopback(m_port);
    m_dataListenFd = listenOnLoopback(dataPort);
    if (m_listenFd < 0 || m_dataListenFd < 0)
        throw std::runtime_error("cannot listen for the TLS FTP test server");
    m_thread = std::thread([this] { serve(); });
}

TlsFtpResponder::~TlsFtpResponder()
{
    ::shutdown(m_listenFd, SHUT_RDWR);
    m_thread.join();
    ::close(m_listenFd);
    ::close(m_dataListenFd);
    SSL_CTX_free(m_context);
}

void TlsFtpResponder::serve()
{
    const int fd = acceptOne(m_listenFd);
    if (fd < 0)
        return;
    SSL *control = SSL_new(m_context);
    SSL_set_fd(control, fd);
    if (SSL_accept(control) == 1)
        converse(control);
    SSL_free(control);
    ::close(fd);
}

void TlsFtpResponder::converse(SSL *control)
{
    sendLine(control, "220 ready");
    std::string line;
    while (readLine(control, line)) {
        const std::string verb = line.substr(0, line.find(' '));
        if (verb == "USER") {
            sendLine(control, "331 password");
        } else if (verb == "PASS") {
            sendLine(control, "230 in");
        } else if (verb == "PASV") {
            sockaddr_in address{};
            socklen_t length = sizeof address;
            ::getsockname(m_dataListenFd, reinterpret_cast<sockaddr *>(&address), &length);
            const int port = ntohs(address.sin_port);
            sendLine(control,
                "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + ","
                    + std::to_string(port % 256) + ")");
        } else if (verb == "RETR") {
            sendLine(control, "150 here it comes");
            sendData();
            sendLine(control, "226 done");
        } else if (verb == "QUIT") {
            sendLine(control, "221 bye");
            return;
        } else if (verb == "EPSV" || verb == "SIZE" || verb == "REST") {
            sendLine(control, "500 not here");
        } else {
            sendLine(control, "200 ok"); // PBSZ, PROT, TYPE, ...
        }
    }
}

void TlsFtpResponder::sendData()
{
    const int fd = acceptOne(m_dataListenFd);
    if (fd < 0)
        return;
    SSL *ssl = SSL_new(m_context);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        std::size_t sent = 0;
        SSL_write_ex(ssl, m_data.data(), m_data.size(), &sent);
        if (m_closeNotify)
            SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    ::close(fd);
}

} // namespace bw::test
