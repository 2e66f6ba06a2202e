// SPDX-License-Identifier: MIT
#include "support/tls_test_server.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bw::test {

namespace {

KeyPtr newKey()
{
    return KeyPtr{EVP_EC_gen("P-256")};
}

void addExtension(X509 *certificate, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        throw std::runtime_error("bad certificate extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

CertificatePtr makeCertificate(
    EVP_PKEY *key, const std::string &commonName, X509 *issuer, long fromSeconds, long toSeconds)
{
    static std::atomic<long> serial{1};
    CertificatePtr certificate{X509_new()};
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), fromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), toSeconds);
    X509_set_pubkey(certificate.get(), key);
    X509_NAME *name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(
        name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Bellwick Test"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), issuer ? X509_get_subject_name(issuer) : name);
    return certificate;
}

void sign(X509 *certificate, EVP_PKEY *key)
{
    if (X509_sign(certificate, key, EVP_sha256()) == 0)
        throw std::runtime_error("cannot sign the test certificate");
}

} // namespace

TestCa::TestCa()
{
    m_ca.key = newKey();
    // Each authority has a name of its own, so a foreign one is unknown rather than mistaken for ours.
    static std::atomic<int> count{0};
    const std::string name = "Bellwick Test CA " + std::to_string(++count);
    m_ca.certificate = makeCertificate(m_ca.key.get(), name, nullptr, -3600, 86400 * 30);
    addExtension(m_ca.certificate.get(), m_ca.certificate.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(
        m_ca.certificate.get(), m_ca.certificate.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(m_ca.certificate.get(), m_ca.certificate.get(), NID_subject_key_identifier, "hash");
    sign(m_ca.certificate.get(), m_ca.key.get());
}

CertifiedKey TestCa::issue(const std::string &names, long validFromSeconds, long validToSeconds) const
{
    CertifiedKey result;
    result.key = newKey();
    result.certificate = makeCertificate(
        result.key.get(), "Bellwick Test Server", m_ca.certificate.get(), validFromSeconds, validToSeconds);
    addExtension(result.certificate.get(), m_ca.certificate.get(), NID_subject_alt_name, names.c_str());
    addExtension(result.certificate.get(), m_ca.certificate.get(), NID_ext_key_usage, "serverAuth");
    sign(result.certificate.get(), m_ca.key.get());
    return result;
}

CertifiedKey TestCa::selfSigned(const std::string &names)
{
    CertifiedKey result;
    result.key = newKey();
    result.certificate = makeCertificate(result.key.get(), "Bellwick Self Signed", nullptr, -3600, 86400);
    addExtension(result.certificate.get(), result.certificate.get(), NID_subject_alt_name, names.c_str());
    sign(result.certificate.get(), result.key.get());
    return result;
}

void TestCa::writePem(const std::filesystem::path &file) const
{
    FILE *out = std::fopen(file.c_str(), "w");
    if (!out)
        throw std::runtime_error("cannot write the test CA");
    PEM_write_X509(out, m_ca.certificate.get());
    std::fclose(out);
}

int listenOnLoopback(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen for a TLS test server");
    }
    port = ntohs(address.sin_port);
    return fd;
}

int acceptWithin(int listenFd, int limitMs)
{
    pollfd ready{listenFd, POLLIN, 0};
    if (::poll(&ready, 1, limitMs) != 1)
        return -1;
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    timeval limit{limitMs / 1000, (limitMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

SSL_CTX *newServerContext(const CertifiedKey &identity)
{
    SSL_CTX *context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(context, identity.certificate.get());
    SSL_CTX_use_PrivateKey(context, identity.key.get());
    return context;
}

TlsEchoServer::TlsEchoServer(const CertifiedKey &identity)
{
    m_context = newServerContext(identity);
    SSL_CTX_set_session_id_context(m_context, reinterpret_cast<const unsigned char *>("bw"), 2);
    m_listenFd = listenOnLoopback(m_port);
    m_thread = std::thread([this] { serve(); });
}

TlsEchoServer::~TlsEchoServer()
{
    m_stopping.store(true);
    ::shutdown(m_listenFd, SHUT_RDWR); // wakes the accept
    m_thread.join();
    {
        std::lock_guard lock{m_mutex};
        for (const int fd : m_connections)
            ::shutdown(fd, SHUT_RDWR); // ends a connection a test left open
    }
    for (std::thread &worker : m_workers)
        worker.join();
    for (const int fd : m_connections)
        ::close(fd);
    ::close(m_listenFd);
    SSL_CTX_free(m_context);
}

void TlsEchoServer::serve()
{
    while (!m_stopping.load()) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        {
            std::lock_guard lock{m_mutex};
            m_connections.push_back(fd);
        }
        m_workers.emplace_back([this, fd] { echo(fd); });
    }
}

void TlsEchoServer::echo(int fd)
{
    SSL *ssl = SSL_new(m_context);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        if (SSL_session_reused(ssl))
            ++m_resumed;
        char buffer[16384];
        std::size_t got = 0;
        while (SSL_read_ex(ssl, buffer, sizeof buffer, &got) == 1) {
            std::size_t sent = 0;
            if (SSL_write_ex(ssl, buffer, got, &sent) != 1)
                break;
        }
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    // The descriptor stays open until the destructor, so it cannot be reused under its shutdown().
}

} // namespace bw::test
