// SPDX-License-Identifier: MIT
// An implicit-TLS FTP server on 127.0.0.1:0 for one login and one passive download, on its own thread:
// it answers the login and transfer commands, sends `data` on a TLS data connection and ends that
// connection with close_notify or by cutting it, then says 226.
#pragma once

#include <string>
#include <thread>

#include <openssl/ssl.h>

#include "support/tls_test_server.h"

namespace bw::test {

class TlsFtpResponder
{
public:
    TlsFtpResponder(const CertifiedKey &identity, std::string data, bool closeNotify);
    ~TlsFtpResponder();
    TlsFtpResponder(const TlsFtpResponder &) = delete;
    TlsFtpResponder &operator=(const TlsFtpResponder &) = delete;

    int port() const { return m_port; }

private:
    void serve();
    // Answers commands on the control connection until QUIT or the client goes.
    void converse(SSL *control);
    void sendData();

    SSL_CTX *m_context = nullptr;
    int m_listenFd = -1;
    int m_dataListenFd = -1;
    int m_port = 0;
    std::string m_data;
    bool m_closeNotify;
    std::thread m_thread;
};

} // namespace bw::test
