// SPDX-License-Identifier: MIT
// A TLS client layer over a connected TcpStream (borrowed), through OpenSSL: non-blocking, waits go to
// the inner stream so deadlines and stop requests behave as for plain TCP. The certificate is checked
// against the system store (SSL_CERT_FILE/SSL_CERT_DIR apply) and the host name before any byte moves.
// Used by the thread that owns the connection at the time.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <openssl/ssl.h>

#include "net/byte_stream.h"
#include "net/tcp_stream.h"

namespace bw::net {

struct TlsSessionFree
{
    void operator()(SSL_SESSION *session) const { SSL_SESSION_free(session); }
};

// A finished handshake's session, offered again by a data connection that must resume it.
using TlsSession = std::unique_ptr<SSL_SESSION, TlsSessionFree>;

class TlsSessionPool;

// What a user is shown before trusting a certificate.
struct CertificateInfo
{
    std::string subject;
    std::string issuer;
    std::string notBefore;
    std::string notAfter;
    std::string sha256; // upper-case hex pairs joined by ':'
};

struct TlsOptions
{
    // The name or address the user asked for: sent as SNI (names only) and checked in the certificate.
    std::string host;
    // Accept any certificate (a run the user started with --insecure).
    bool insecure = false;
    // A certificate whose SHA-256 fingerprint equals this one is accepted although it does not verify.
    std::string trustedSha256;
    // Offered for resumption (FTP data connections resume the control connection's session).
    SSL_SESSION *resume = nullptr;
    // Receives every session the server hands out on this connection (borrowed; may be null).
    TlsSessionPool *sessionPool = nullptr;
    // After writing (an FTP upload), close only once the peer has closed: closing a socket with bytes
    // unread (its session ticket) resets the connection, and the reset can destroy the end of the
    // upload before the peer has read it.
    bool waitForPeerClose = false;
    // Hand the record layer to the kernel when it can take it, so files go out with sendfile.
    bool kernelTls = true;
};

class TlsStream final : public ByteStream
{
public:
    TlsStream(TcpStream &inner, TlsOptions options);
    ~TlsStream() override;
    TlsStream(const TlsStream &) = delete;
    TlsStream &operator=(const TlsStream &) = delete;

    // Runs the handshake and the certificate check within timeoutMs. False with failureText() set;
    // a stop request ends it at once (failureText() empty, wasStopped() true).
    bool handshake(int timeoutMs);

    const std::string &failureText() const { return m_failure; }

    bool wasStopped() const { return m_stopped; }

    // True when the certificate failed verification (its details are in peerCertificate()).
    bool isCertificateRejected() const { return m_certificateRejected; }

    CertificateInfo peerCertificate() const;
    // The session to offer a data connection; null before the handshake.
    TlsSession session() const;
    bool isSessionReused() const;
    bool isKernelSend() const;

    IoResult read(char *buffer, std::int64_t size) override;
    IoResult write(const char *data, std::int64_t size) override;
    WaitResult wait(StreamInterest interest, int timeoutMs) override;
    int shutdown(ShutdownDirection direction) override;
    int close() override;
    bool isOpen() const override;
    int zeroCopyFd() const override;

private:
    // Maps an SSL_read/SSL_write/SSL_do_handshake return to an IoResult.
    IoResult classify(int ret);
    bool checkCertificate();
    static int onNewSession(SSL *ssl, SSL_SESSION *session);
    // Reads and drops what still comes until the peer closes, a stop, or a short limit.
    void readUntilPeerCloses();

    TcpStream &m_inner;
    TlsOptions m_options;
    SSL *m_ssl = nullptr;
    std::string m_failure;
    bool m_stopped = false;
    bool m_certificateRejected = false;
    bool m_sentCloseNotify = false;
    bool m_fatal = false; // a failure or a cut ended the session
    // A close or failure met while gathering records after some data; the next read returns it.
    std::optional<IoResult> m_deferred;
    mutable bool m_wroteData = false; // also set when a caller took the descriptor to write through
};

// The reason a certificate was refused, as users read it: "self-signed certificate",
// "host name mismatch", "certificate has expired", ...
std::string certificateErrorText(long verifyResult);

} // namespace bw::net
