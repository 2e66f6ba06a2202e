// SPDX-License-Identifier: MIT
// Fetches a server's certificate so the user can decide whether to trust it: connects, for explicit
// FTP TLS reads the greeting and sends AUTH TLS, runs the TLS handshake and reports what the
// certificate says and why it does not verify. Nothing else moves over the connection. One thread runs
// `fetch`; `abort` may come from any other.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "net/socket_connection.h"
#include "net/tls_stream.h"

namespace bw::net {

// How the server starts TLS.
enum class TlsStart
{
    Implicit, // from the first byte (https, ftps)
    FtpAuthTls, // after the FTP greeting, on "AUTH TLS" (ftpes)
};

struct CertificateProbeResult
{
    // A handshake completed and the server showed a certificate.
    bool hasCertificate = false;
    CertificateInfo certificate;
    // "Certificate verification failed: ..." when it does not verify; empty when it does.
    std::string verifyFailure;
    // Why no certificate could be fetched; empty when one was.
    std::string error;
};

class CertificateProbe
{
public:
    CertificateProbe() = default;
    CertificateProbe(const CertificateProbe &) = delete;
    CertificateProbe &operator=(const CertificateProbe &) = delete;

    // Each step is bounded by `timeoutSeconds`; the host is checked as a transfer would check it.
    CertificateProbeResult fetch(
        const std::string &host, std::int32_t port, TlsStart start, int timeoutSeconds);
    // Ends a fetch under way at once (its result then says so); later fetches end at once too.
    void abort();

private:
    bool startFtpTls(int timeoutSeconds, CertificateProbeResult &result);
    bool aborted(CertificateProbeResult &result) const;

    SocketConnection m_socket;
    std::atomic<bool> m_aborted{false};
};

} // namespace bw::net
