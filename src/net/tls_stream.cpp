// SPDX-License-Identifier: MIT
#include "net/tls_stream.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <signal.h>

#include "net/tls_session_pool.h"

namespace bw::net {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The record layer's receive buffer when reading ahead.
constexpr std::size_t kReadBufferBytes = 256 * 1024;

// How long a closing connection that wrote data waits for the peer to close.
constexpr int kPeerCloseWaitMs = 5000;

// The newest queued OpenSSL error as text (and the queue emptied), or `fallback`.
std::string takeOpenSslError(const char *fallback)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return fallback;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool isIpLiteral(const std::string &host)
{
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1
        || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string nameText(const X509_NAME *name)
{
    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(std::max(length, 0L)));
    BIO_free(bio);
    return text;
}

std::string timeText(const ASN1_TIME *time)
{
    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    ASN1_TIME_print(bio, time);
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(std::max(length, 0L)));
    BIO_free(bio);
    return text;
}

std::string fingerprintText(X509 *certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += pair;
    }
    return text;
}

// OpenSSL's socket layer writes with write(2), which raises SIGPIPE on a connection the peer has
// closed; the stream reports EPIPE instead, as the plain one does with MSG_NOSIGNAL.
void ignoreBrokenPipes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current
        {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
    });
}

// One context per stream: cheap next to a handshake, and it picks up SSL_CERT_FILE/SSL_CERT_DIR as
// they are when the connection is made.
SSL_CTX *makeContext(bool kernelTls)
{
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(context);
    // Verification runs in full either way; the result is judged after the handshake, where a
    // fingerprint the user trusted can still accept it, and before any byte is moved.
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Several records per read(2) rather than a header and a body read for each one.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, kReadBufferBytes);
    if (kernelTls)
        SSL_CTX_set_options(context, SSL_OP_ENABLE_KTLS);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    return context;
}

} // namespace

std::string certificateErrorText(long verifyResult)
{
    switch (verifyResult) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "host name mismatch";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "certificate is not yet valid";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "self-signed certificate";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        return "unknown certificate authority";
    default:
        return X509_verify_cert_error_string(verifyResult);
    }
}

TlsStream::TlsStream(TcpStream &inner, TlsOptions options)
    : m_inner(inner)
    , m_options(std::move(options))
{
    ignoreBrokenPipes();
    SSL_CTX *context = makeContext(m_options.kernelTls);
    if (!context) {
        m_failure = "TLS setup failed: " + takeOpenSslError("no context");
        return;
    }
    m_ssl = SSL_new(context);
    SSL_CTX_free(context); // the SSL object holds its own reference
    if (!m_ssl) {
        m_failure = "TLS setup failed: " + takeOpenSslError("no connection object");
        return;
    }
    std::string host = m_options.host;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (isIpLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str());
    } else if (!host.empty()) {
        SSL_set_tlsext_host_name(m_ssl, host.c_str());
        SSL_set1_host(m_ssl, host.c_str());
    }
    if (m_options.sessionPool) {
        SSL_set_app_data(m_ssl, this);
        SSL_CTX_sess_set_new_cb(SSL_get_SSL_CTX(m_ssl), &TlsStream::onNewSession);
    }
    SSL_set_fd(m_ssl, m_inner.fd());
    if (m_options.resume)
        SSL_set_session(m_ssl, m_options.resume);
    m_options.resume = nullptr; // borrowed only for the handshake
}

TlsStream::~TlsStream()
{
    close();
}

bool TlsStream::handshake(int timeoutMs)
{
    if (!m_ssl)
        return false;
    ERR_clear_error();
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const IoResult step = classify(SSL_connect(m_ssl));
        if (step.status == IoResult::Status::Moved)
            break;
        if (step.status != IoResult::Status::WouldBlock) {
            if (m_failure.empty())
                m_failure = "TLS handshake failed: connection closed by the server";
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            m_failure = "TLS handshake failed: timed out";
            return false;
        }
        const WaitResult waited = m_inner.wait(step.wants, static_cast<int>(left.count()));
        if (waited == WaitResult::Stopped) {
            m_stopped = true;
            return false;
        }
        if (waited == WaitResult::Failed) {
            m_failure = std::string("TLS handshake failed: ") + std::strerror(errno);
            return false;
        }
    }
    return checkCertificate();
}

bool TlsStream::checkCertificate()
{
    const long result = SSL_get_verify_result(m_ssl);
    if (result == X509_V_OK || m_options.insecure)
        return true;
    if (!m_options.trustedSha256.empty() && peerCertificate().sha256 == m_options.trustedSha256)
        return true;
    m_certificateRejected = true;
    m_failure = "Certificate verification failed: " + certificateErrorText(result);
    return false;
}

IoResult TlsStream::classify(int ret)
{
    if (ret > 0)
        return {IoResult::Status::Moved, ret, 0};
    const int error = SSL_get_error(m_ssl, ret);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return {IoResult::Status::WouldBlock, 0, 0, StreamInterest::Read};
    case SSL_ERROR_WANT_WRITE:
        return {IoResult::Status::WouldBlock, 0, 0, StreamInterest::Write};
    case SSL_ERROR_ZERO_RETURN:
        return {IoResult::Status::Closed, 0, 0};
    case SSL_ERROR_SSL:
        if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            // A close without close_notify: many FTP servers end data connections so. It reads as a
            // close, and the caller decides whether the data can be whole (HTTP to the close: no;
            // FTP: when the size is known and matches).
            ERR_clear_error();
            m_fatal = true;
            IoResult closed{IoResult::Status::Closed, 0, 0};
            closed.endConfirmed = false;
            return closed;
        }
        [[fallthrough]];
    case SSL_ERROR_SYSCALL: {
        m_fatal = true;
        const int number = errno != 0 ? errno : ECONNRESET;
        if (m_failure.empty())
            m_failure = std::string("TLS connection failed: ") + std::strerror(number);
        ERR_clear_error();
        return {IoResult::Status::Failed, 0, number};
    }
    default:
        m_fatal = true;
        if (m_failure.empty())
            m_failure = "TLS connection failed: " + takeOpenSslError("protocol error");
        ERR_clear_error();
        return {IoResult::Status::Failed, 0, EPROTO};
    }
}

IoResult TlsStream::read(char *buffer, std::int64_t size)
{
    if (!m_ssl)
        return {IoResult::Status::Failed, 0, ENOTCONN};
    if (m_deferred) {
        const IoResult deferred = *m_deferred;
        m_deferred.reset();
        return deferred;
    }
    // One SSL_read gives at most one record (16 KiB): gather records until the buffer is full or
    // nothing more has arrived, so large transfers move in large blocks.
    std::int64_t total = 0;
    while (total < size) {
        std::size_t got = 0;
        ERR_clear_error();
        errno = 0;
        const int ret = SSL_read_ex(m_ssl, buffer + total, static_cast<std::size_t>(size - total), &got);
        if (ret == 1) {
            total += static_cast<std::int64_t>(got);
            continue;
        }
        const IoResult result = classify(ret);
        if (total == 0)
            return result;
        // What came first is delivered now; the close or failure that ended the gathering comes next.
        if (result.status != IoResult::Status::WouldBlock)
            m_deferred = result;
        break;
    }
    return {IoResult::Status::Moved, total, 0};
}

IoResult TlsStream::write(const char *data, std::int64_t size)
{
    if (!m_ssl)
        return {IoResult::Status::Failed, 0, ENOTCONN};
    std::size_t sent = 0;
    ERR_clear_error();
    errno = 0;
    const int ret = SSL_write_ex(m_ssl, data, static_cast<std::size_t>(size), &sent);
    m_wroteData = true;
    if (ret == 1)
        return {IoResult::Status::Moved, static_cast<std::int64_t>(sent), 0};
    return classify(ret);
}

WaitResult TlsStream::wait(StreamInterest interest, int timeoutMs)
{
    // Decrypted bytes may already wait in OpenSSL's buffer while the socket has nothing more.
    if (interest == StreamInterest::Read && m_ssl && (m_deferred || SSL_has_pending(m_ssl) == 1))
        return WaitResult::Ready;
    return m_inner.wait(interest, timeoutMs);
}

int TlsStream::shutdown(ShutdownDirection direction)
{
    if (direction != ShutdownDirection::Receive && m_ssl && !m_sentCloseNotify && !m_fatal) {
        // The close_notify alert ends an upload in order; a full socket just loses the alert.
        m_sentCloseNotify = true;
        ERR_clear_error();
        SSL_shutdown(m_ssl);
        ERR_clear_error();
    }
    return m_inner.shutdown(direction);
}

int TlsStream::close()
{
    if (!m_ssl)
        return 0;
    // After a fatal error OpenSSL must not be asked to shut down.
    if (!m_sentCloseNotify && !m_fatal && SSL_is_init_finished(m_ssl) && m_inner.isOpen()) {
        m_sentCloseNotify = true;
        ERR_clear_error();
        SSL_shutdown(m_ssl);
    }
    if (m_options.waitForPeerClose && m_wroteData && SSL_is_init_finished(m_ssl) && m_inner.isOpen())
        readUntilPeerCloses();
    ERR_clear_error();
    SSL_free(m_ssl);
    m_ssl = nullptr;
    return 0;
}

bool TlsStream::isOpen() const
{
    return m_ssl && m_inner.isOpen();
}

int TlsStream::zeroCopyFd() const
{
    if (!isKernelSend())
        return -1;
    m_wroteData = true;
    return m_inner.fd();
}

CertificateInfo TlsStream::peerCertificate() const
{
    CertificateInfo info;
    if (!m_ssl)
        return info;
    X509 *certificate = SSL_get0_peer_certificate(m_ssl);
    if (!certificate)
        return info;
    info.subject = nameText(X509_get_subject_name(certificate));
    info.issuer = nameText(X509_get_issuer_name(certificate));
    info.notBefore = timeText(X509_get0_notBefore(certificate));
    info.notAfter = timeText(X509_get0_notAfter(certificate));
    info.sha256 = fingerprintText(certificate);
    return info;
}

TlsSession TlsStream::session() const
{
    return TlsSession{m_ssl ? SSL_get1_session(m_ssl) : nullptr};
}

int TlsStream::onNewSession(SSL *ssl, SSL_SESSION *session)
{
    const auto *stream = static_cast<const TlsStream *>(SSL_get_app_data(ssl));
    if (!stream || !stream->m_options.sessionPool)
        return 0;
    stream->m_options.sessionPool->add(session);
    return 1; // the pool keeps the reference
}

void TlsStream::readUntilPeerCloses()
{
    m_inner.shutdown(ShutdownDirection::Send);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kPeerCloseWaitMs);
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0
            || m_inner.wait(StreamInterest::Read, static_cast<int>(left.count())) != WaitResult::Ready)
            return;
        std::size_t got = 0;
        ERR_clear_error();
        errno = 0;
        const int ret = SSL_read_ex(m_ssl, buffer, sizeof buffer, &got);
        if (ret != 1 && SSL_get_error(m_ssl, ret) != SSL_ERROR_WANT_READ) {
            ERR_clear_error();
            return; // closed (in order or not): the peer has read everything it is going to
        }
    }
}

bool TlsStream::isSessionReused() const
{
    return m_ssl && SSL_session_reused(m_ssl) == 1;
}

bool TlsStream::isKernelSend() const
{
    return m_ssl && BIO_get_ktls_send(SSL_get_wbio(m_ssl)) == 1;
}

} // namespace bw::net
