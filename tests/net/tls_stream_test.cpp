// SPDX-License-Identifier: MIT
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

#include "net/socket_connection.h"
#include "net/tls_stream.h"
#include "support/silent_listener.h"
#include "support/temp_dir.h"
#include "support/tls_test_server.h"

namespace bw::net {
namespace {

using bw::test::TempDir;
using bw::test::TestCa;
using bw::test::TlsEchoServer;

constexpr int kHandshakeMs = 10000;

TlsOptions hostOptions(const std::string &host)
{
    TlsOptions options;
    options.host = host;
    return options;
}

TlsOptions trusting(const std::string &sha256)
{
    TlsOptions options = hostOptions("localhost");
    options.trustedSha256 = sha256;
    return options;
}

TlsOptions insecureOptions()
{
    TlsOptions options = hostOptions("localhost");
    options.insecure = true;
    return options;
}

TlsOptions resuming(SSL_SESSION *session)
{
    TlsOptions options = hostOptions("127.0.0.1");
    options.resume = session;
    return options;
}

// Points OpenSSL's default store at one CA file for the test, as a user would with SSL_CERT_FILE.
class CaFileScope
{
public:
    explicit CaFileScope(const std::filesystem::path &file) { ::setenv("SSL_CERT_FILE", file.c_str(), 1); }

    ~CaFileScope() { ::unsetenv("SSL_CERT_FILE"); }
};

class TlsStreamTest : public ::testing::Test
{
protected:
    TlsStreamTest() { ca.writePem(dir / "ca.pem"); }

    std::unique_ptr<SocketConnection> connectTo(int port)
    {
        auto connection = std::make_unique<SocketConnection>();
        EXPECT_TRUE(connection->connect("127.0.0.1", port));
        return connection;
    }

    // Connects, runs the handshake and installs the layer when it succeeds.
    struct Attempt
    {
        std::unique_ptr<SocketConnection> connection;
        TlsStream *tls = nullptr;
        bool ok = false;
        std::string failure;
        CertificateInfo certificate;
    };

    Attempt attempt(int port, TlsOptions options)
    {
        Attempt result;
        result.connection = connectTo(port);
        auto layer = std::make_unique<TlsStream>(result.connection->tcpStream(), std::move(options));
        result.ok = layer->handshake(kHandshakeMs);
        result.failure = layer->failureText();
        result.certificate = layer->peerCertificate();
        result.tls = layer.get();
        result.connection->setStreamLayer(std::move(layer));
        return result;
    }

    // Writes `text` and reads the echo back through the connection's stream.
    static std::string echo(ByteStream &stream, const std::string &text)
    {
        std::size_t written = 0;
        std::string back;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (back.size() < text.size() && std::chrono::steady_clock::now() < deadline) {
            if (written < text.size()) {
                IoResult out =
                    stream.write(text.data() + written, static_cast<std::int64_t>(text.size() - written));
                if (out.status == IoResult::Status::Moved)
                    written += static_cast<std::size_t>(out.bytes);
                else if (out.status == IoResult::Status::Failed)
                    break;
            }
            char buffer[65536];
            IoResult in = stream.read(buffer, sizeof buffer);
            if (in.status == IoResult::Status::Moved)
                back.append(buffer, static_cast<std::size_t>(in.bytes));
            else if (in.status == IoResult::Status::WouldBlock)
                stream.wait(written < text.size() ? StreamInterest::Write : in.wants, 100);
            else
                break;
        }
        return back;
    }

    TempDir dir;
    TestCa ca;
};

TEST_F(TlsStreamTest, VerifiesAgainstTheCaInSslCertFileAndMovesBytes)
{
    CaFileScope scope{dir / "ca.pem"};
    TlsEchoServer server{ca.issue("DNS:localhost,IP:127.0.0.1")};
    for (const char *host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        Attempt tried = attempt(server.port(), hostOptions(host));
        ASSERT_TRUE(tried.ok) << tried.failure;
        const std::string payload = bw::test::patternBytes(300000, 7);
        EXPECT_EQ(echo(tried.connection->stream(), payload), payload);
    }
}

TEST_F(TlsStreamTest, RefusedCertificatesNameTheReason)
{
    const TestCa otherCa;

    struct Case
    {
        const char *name;
        bw::test::CertifiedKey identity;
        const char *host;
        const char *text;
    };

    Case cases[] = {
        {"unknown CA", otherCa.issue("DNS:localhost"), "localhost",
            "Certificate verification failed: unknown certificate authority"},
        {"self-signed", TestCa::selfSigned("DNS:localhost"), "localhost",
            "Certificate verification failed: self-signed certificate"},
        {"wrong name", ca.issue("DNS:files.example"), "localhost",
            "Certificate verification failed: host name mismatch"},
        {"wrong address", ca.issue("IP:127.0.0.2"), "127.0.0.1",
            "Certificate verification failed: host name mismatch"},
        {"expired", ca.issue("DNS:localhost", -86400 * 2, -86400), "localhost",
            "Certificate verification failed: certificate has expired"},
    };
    CaFileScope scope{dir / "ca.pem"};
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        TlsEchoServer server{c.identity};
        Attempt tried = attempt(server.port(), hostOptions(c.host));
        EXPECT_FALSE(tried.ok);
        EXPECT_TRUE(tried.tls->isCertificateRejected());
        EXPECT_EQ(tried.failure, c.text);
    }
}

TEST_F(TlsStreamTest, WithoutTheTestCaTheCertificateIsRefused)
{
    TlsEchoServer server{ca.issue("DNS:localhost")};
    ::setenv("SSL_CERT_FILE", "/nonexistent/ca.pem", 1);
    ::setenv("SSL_CERT_DIR", dir.path().c_str(), 1); // holds no certificates
    Attempt tried = attempt(server.port(), hostOptions("localhost"));
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
    EXPECT_FALSE(tried.ok);
    EXPECT_EQ(tried.failure, "Certificate verification failed: unknown certificate authority");
}

TEST_F(TlsStreamTest, TrustedFingerprintOrInsecureAcceptsAndAChangedCertificateIsRefused)
{
    CaFileScope scope{dir / "ca.pem"};
    TlsEchoServer first{TestCa::selfSigned("DNS:localhost")};
    Attempt refused = attempt(first.port(), hostOptions("localhost"));
    ASSERT_FALSE(refused.ok);
    const CertificateInfo shown = refused.certificate;
    EXPECT_NE(shown.subject.find("Bellwick Self Signed"), std::string::npos) << shown.subject;
    EXPECT_EQ(shown.subject, shown.issuer);
    EXPECT_EQ(shown.sha256.size(), 32u * 3 - 1);
    EXPECT_FALSE(shown.notBefore.empty());
    EXPECT_FALSE(shown.notAfter.empty());

    Attempt trusted = attempt(first.port(), trusting(shown.sha256));
    ASSERT_TRUE(trusted.ok) << trusted.failure;
    EXPECT_EQ(echo(trusted.connection->stream(), "hello"), "hello");

    Attempt insecure = attempt(first.port(), insecureOptions());
    EXPECT_TRUE(insecure.ok) << insecure.failure;

    TlsEchoServer changed{TestCa::selfSigned("DNS:localhost")};
    Attempt again = attempt(changed.port(), trusting(shown.sha256));
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.failure, "Certificate verification failed: self-signed certificate");
}

TEST_F(TlsStreamTest, ADataConnectionResumesTheControlSession)
{
    CaFileScope scope{dir / "ca.pem"};
    TlsEchoServer server{ca.issue("IP:127.0.0.1")};
    Attempt control = attempt(server.port(), hostOptions("127.0.0.1"));
    ASSERT_TRUE(control.ok) << control.failure;
    // TLS 1.3 tickets come after the handshake: reading a reply first receives them.
    EXPECT_EQ(echo(control.connection->stream(), "PBSZ 0"), "PBSZ 0");
    TlsSession session = control.tls->session();
    ASSERT_TRUE(session);
    Attempt data = attempt(server.port(), resuming(session.get()));
    ASSERT_TRUE(data.ok) << data.failure;
    EXPECT_TRUE(data.tls->isSessionReused());
    EXPECT_EQ(echo(data.connection->stream(), "data"), "data");
    EXPECT_EQ(server.resumedCount(), 1);
}

TEST_F(TlsStreamTest, AStopEndsTheHandshakeWaitAtOnce)
{
    // A listener that never answers: the TCP connect completes in the backlog, the hello goes unheard.
    const bw::test::SilentListener listener;
    ASSERT_NE(listener.port(), 0);

    auto connection = connectTo(listener.port());
    TlsStream tls{connection->tcpStream(), hostOptions("127.0.0.1")};
    std::jthread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let the handshake start waiting
        connection->requestStop(StopByItem);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(tls.handshake(60000));
    EXPECT_TRUE(tls.wasStopped());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

} // namespace
} // namespace bw::net
