// SPDX-License-Identifier: MIT
// FTPS downloads whose TLS data connection ends with or without close_notify: a cut is only trusted
// when the file has the size known beforehand.
#include <string>

#include <gtest/gtest.h>

#include "net/ftp_connection.h"
#include "support/temp_dir.h"
#include "support/tls_ftp_responder.h"

namespace bw::net {
namespace {

TEST(FtpsScripted, DataCutWithoutCloseNotifyMustMatchTheKnownSize)
{
    const test::TestCa ca;
    const test::CertifiedKey identity = ca.issue("IP:127.0.0.1");

    const struct
    {
        const char *name;
        std::string sent;
        bool closeNotify;
        std::int64_t knownSize;
        bool ok;
    } cases[] = {
        {"cut short", "abcd", false, 10, false},
        {"cut at the known size", "abcdefghij", false, 10, true},
        {"closed in order, short", "abcd", true, 10, true}, // the 226 vouches, as always
        {"cut, size unknown", "abcd", false, -1, true},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::TlsFtpResponder server(identity, c.sent, c.closeNotify);
        test::TempDir local;
        FtpConnection ftp;
        FtpSite site{"127.0.0.1", server.port(), "user", "secret", 4};
        site.security = FtpSecurity::ImplicitTls;
        site.tls.insecure = true;
        ASSERT_TRUE(ftp.createAndBind(0));
        ASSERT_TRUE(ftp.login(site)) << ftp.error().text() << ": " << ftp.error().detail();
        const std::string path = (local / "f.bin").string();
        EXPECT_EQ(ftp.download(path, "f.bin", true, true, c.knownSize, false), c.ok);
        EXPECT_EQ(test::readFile(path), c.sent); // a cut part stays for the next resume
        if (!c.ok) {
            EXPECT_TRUE(ftp.error().is(CatLocal, SocketReadError)) << ftp.error().text();
        }
        ftp.disconnect(15);
    }
}

} // namespace
} // namespace bw::net
