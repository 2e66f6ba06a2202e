// SPDX-License-Identifier: MIT
#include "net/certificate_probe.h"

#include <deque>

#include "net/error_code.h"
#include "net/tls_upgrade.h"

namespace bw::net {

namespace {

constexpr int kAuthTlsAccepted = 234;

std::string errorText(const ErrorCode &error)
{
    return error.detail().empty() ? std::string(error.text()) : error.detail();
}

std::string lastLine(const std::deque<std::string> &lines)
{
    return lines.empty() ? std::string() : lines.back();
}

} // namespace

bool CertificateProbe::aborted(CertificateProbeResult &result) const
{
    if (!m_aborted.load())
        return false;
    result = {};
    result.error = "Stopped";
    return true;
}

CertificateProbeResult CertificateProbe::fetch(
    const std::string &host, std::int32_t port, TlsStart start, int timeoutSeconds)
{
    CertificateProbeResult result;
    if (aborted(result))
        return result;
    m_socket.setConnectTimeoutSeconds(timeoutSeconds);
    if (!m_socket.connect(host, port)) {
        if (!aborted(result))
            result.error = "Cannot connect to " + host + " port " + std::to_string(port) + ": "
                + errorText(m_socket.error());
        m_socket.close();
        return result;
    }
    if (aborted(result) || (start == TlsStart::FtpAuthTls && !startFtpTls(timeoutSeconds, result))) {
        m_socket.close();
        return result;
    }
    TlsOptions options;
    options.host = host;
    options.kernelTls = false;
    TlsOutcome outcome;
    const bool verified = upgradeToTls(m_socket, options, timeoutSeconds, &outcome);
    if (!aborted(result)) {
        result.certificate = outcome.certificate;
        result.hasCertificate = !outcome.certificate.sha256.empty();
        if (outcome.rejected)
            result.verifyFailure = m_socket.error().detail();
        else if (!verified || !result.hasCertificate)
            result.error = "TLS failed: " + errorText(m_socket.error());
    }
    m_socket.close();
    return result;
}

bool CertificateProbe::startFtpTls(int timeoutSeconds, CertificateProbeResult &result)
{
    std::deque<std::string> lines;
    const int greeting = m_socket.readReply(timeoutSeconds, &lines);
    if (aborted(result))
        return false;
    if (greeting < 200 || greeting >= 300) {
        result.error = "No FTP greeting: " + (greeting < 0 ? errorText(m_socket.error()) : lastLine(lines));
        return false;
    }
    lines.clear();
    const bool sent = m_socket.sendText("AUTH TLS\r\n", false);
    const int reply = sent ? m_socket.readReply(timeoutSeconds, &lines) : -1;
    if (aborted(result))
        return false;
    if (reply != kAuthTlsAccepted) {
        result.error =
            "The server refused AUTH TLS: " + (reply < 0 ? errorText(m_socket.error()) : lastLine(lines));
        return false;
    }
    return true;
}

void CertificateProbe::abort()
{
    m_aborted.store(true);
    m_socket.requestStop(StopByEngine);
}

} // namespace bw::net
