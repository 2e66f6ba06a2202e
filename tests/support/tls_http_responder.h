// SPDX-License-Identifier: MIT
// A TLS server on 127.0.0.1:0 that answers one HTTP request per connection with exact bytes, one
// response after another on its own thread, and then closes either in order (close_notify) or by cutting
// the TCP connection without it. Records each request header.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

#include "support/tls_test_server.h"

namespace bw::test {

class TlsHttpResponder
{
public:
    struct Response
    {
        std::string bytes;
        bool closeNotify = true; // false: the TCP connection just closes
    };

    TlsHttpResponder(const CertifiedKey &identity, std::vector<Response> responses);
    ~TlsHttpResponder();
    TlsHttpResponder(const TlsHttpResponder &) = delete;
    TlsHttpResponder &operator=(const TlsHttpResponder &) = delete;

    int port() const { return m_port; }

    // The request headers received so far, each up to and including its blank line.
    std::vector<std::string> requests() const;

private:
    void serve();
    void answer(int fd, const Response &response);

    SSL_CTX *m_context = nullptr;
    int m_listenFd = -1;
    int m_port = 0;
    std::vector<Response> m_responses;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests; // guarded by m_mutex
};

} // namespace bw::test
