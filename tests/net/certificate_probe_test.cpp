// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "net/certificate_probe.h"
#include "support/temp_dir.h"
#include "support/tls_test_servers.h"

namespace bw::net {
namespace {

using bw::test::TempDir;
using bw::test::tlsServers;
using bw::test::trustOnly;

constexpr int kTimeoutSeconds = 10;

class CertificateProbeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        servers = tlsServers();
        ASSERT_NE(servers.httpsPort, 0) << "the nginx TLS test server is needed";
        ASSERT_NE(servers.ftpesPort, 0) << "the explicit vsftpd TLS test server is needed";
        ASSERT_NE(servers.ftpsPort, 0) << "the implicit vsftpd TLS test server is needed";
    }

    bw::test::TlsServers servers;
    TempDir emptyFolder;
};

TEST_F(CertificateProbeTest, FetchesTheCertificateOfEveryTlsStartWithItsVerification)
{
    const struct
    {
        const char *name;
        int port;
        TlsStart start;
    } servers_[] = {
        {"https", servers.httpsPort, TlsStart::Implicit},
        {"ftps", servers.ftpsPort, TlsStart::Implicit},
        {"ftpes", servers.ftpesPort, TlsStart::FtpAuthTls},
    };

    for (const auto &server : servers_) {
        SCOPED_TRACE(server.name);
        trustOnly("", emptyFolder.path().string());
        CertificateProbe unknown;
        const CertificateProbeResult refused =
            unknown.fetch("127.0.0.1", server.port, server.start, kTimeoutSeconds);
        ASSERT_TRUE(refused.hasCertificate) << refused.error;
        EXPECT_EQ(refused.error, "");
        EXPECT_EQ(refused.verifyFailure, "Certificate verification failed: unknown certificate authority");
        EXPECT_EQ(refused.certificate.sha256.size(), 95u) << refused.certificate.sha256;
        EXPECT_NE(refused.certificate.subject, "");
        EXPECT_NE(refused.certificate.issuer, "");
        EXPECT_NE(refused.certificate.notBefore, "");
        EXPECT_NE(refused.certificate.notAfter, "");

        trustOnly(servers.caFile, emptyFolder.path().string());
        CertificateProbe known;
        const CertificateProbeResult verified =
            known.fetch("127.0.0.1", server.port, server.start, kTimeoutSeconds);
        ASSERT_TRUE(verified.hasCertificate) << verified.error;
        EXPECT_EQ(verified.verifyFailure, "");
        EXPECT_EQ(verified.certificate.sha256, refused.certificate.sha256);
    }
}

TEST_F(CertificateProbeTest, SaysWhyNoCertificateCame)
{
    // Plain FTP on the TLS server's port is no TLS server; AUTH TLS on an HTTPS port gets no greeting.
    CertificateProbe closedPort;
    const CertificateProbeResult none = closedPort.fetch("127.0.0.1", 1, TlsStart::Implicit, kTimeoutSeconds);
    EXPECT_FALSE(none.hasCertificate);
    EXPECT_EQ(none.error.rfind("Cannot connect to 127.0.0.1 port 1: ", 0), 0u) << none.error;

    CertificateProbe plainGreeting;
    const CertificateProbeResult tlsOnFtp =
        plainGreeting.fetch("127.0.0.1", servers.ftpesPort, TlsStart::Implicit, kTimeoutSeconds);
    EXPECT_FALSE(tlsOnFtp.hasCertificate);
    EXPECT_EQ(tlsOnFtp.error.rfind("TLS failed: ", 0), 0u) << tlsOnFtp.error;

    CertificateProbe stopped;
    stopped.abort();
    const CertificateProbeResult aborted =
        stopped.fetch("127.0.0.1", servers.httpsPort, TlsStart::Implicit, kTimeoutSeconds);
    EXPECT_FALSE(aborted.hasCertificate);
    EXPECT_EQ(aborted.error, "Stopped");
}

} // namespace
} // namespace bw::net
