// SPDX-License-Identifier: MIT
#include "support/tls_ftp_responder.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bw::test {

namespace {

constexpr int kStepMs = 10000;

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
    m_context = newServerContext(identity);
    int dataPort = 0;
    m_listenFd = listenOnLoopback(m_port);
    m_dataListenFd = listenOnLoopback(dataPort);
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
    const int fd = acceptWithin(m_listenFd, kStepMs);
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
    const int fd = acceptWithin(m_dataListenFd, kStepMs);
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
