// SPDX-License-Identifier: MIT
// TLS helpers for tests: a throw-away CA and server certificates made in memory, and a TLS echo
// server on 127.0.0.1:0 that serves one connection after another on its own thread.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

namespace bw::test {

struct KeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};

struct CertificateFree
{
    void operator()(X509 *certificate) const { X509_free(certificate); }
};

using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertificatePtr = std::unique_ptr<X509, CertificateFree>;

struct CertifiedKey
{
    KeyPtr key;
    CertificatePtr certificate;
};

// A certificate authority made for one test.
class TestCa
{
public:
    TestCa();

    // A server certificate for `names` ("DNS:localhost", "IP:127.0.0.1"), valid from now plus
    // `validFromSeconds` to now plus `validToSeconds`.
    CertifiedKey issue(
        const std::string &names, long validFromSeconds = -3600, long validToSeconds = 86400) const;
    // The CA certificate as a PEM file, as SSL_CERT_FILE takes it.
    void writePem(const std::filesystem::path &file) const;

    // A certificate that signs itself.
    static CertifiedKey selfSigned(const std::string &names);

private:
    CertifiedKey m_ca;
};

// A listening TCP socket on 127.0.0.1 with a free port, written to `port`; throws when none can be made.
int listenOnLoopback(int &port);
// Accepts one connection within `limitMs` and gives its reads the same limit; -1 when none came.
int acceptWithin(int listenFd, int limitMs);
// A server context that presents `identity`; the caller frees it.
SSL_CTX *newServerContext(const CertifiedKey &identity);

class TlsEchoServer
{
public:
    explicit TlsEchoServer(const CertifiedKey &identity);
    ~TlsEchoServer();
    TlsEchoServer(const TlsEchoServer &) = delete;
    TlsEchoServer &operator=(const TlsEchoServer &) = delete;

    int port() const { return m_port; }

    // How many handshakes resumed an earlier session.
    int resumedCount() const { return m_resumed.load(); }

private:
    void serve();
    void echo(int fd);

    SSL_CTX *m_context = nullptr;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_resumed{0};
    std::thread m_thread;
    std::vector<std::thread> m_workers; // serve thread, then the destructor
    std::mutex m_mutex;
    std::vector<int> m_connections; // guarded by m_mutex
};

} // namespace bw::test
