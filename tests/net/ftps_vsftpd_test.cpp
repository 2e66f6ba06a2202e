// SPDX-License-Identifier: MIT
// The FTP client over TLS against the loopback vsftpd instances that demand TLS for logins and data
// and a resumed session on every data connection: implicit and explicit, passive and active.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "net/ftp_connection.h"
#include "net/speed_limits.h"
#include "support/protocol_recorder.h"
#include "support/server_folder.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "support/tls_test_servers.h"

namespace bw::net {
namespace {

namespace fs = std::filesystem;
using bw::test::TempDir;
using Recorder = bw::test::ProtocolRecorder;

struct TlsCase
{
    FtpSecurity security;
    bool passive;
};

class FtpsVsftpd : public ::testing::TestWithParam<TlsCase>
{
protected:
    void SetUp() override
    {
        servers = bw::test::tlsServers();
        ASSERT_NE(servers.ftpsPort, 0) << "the vsftpd TLS test servers are needed";
        bw::test::trustOnly(servers.caFile, emptyFolder.path().string());
        folder = "ftps-" + std::to_string(::getpid()) + "-"
            + std::to_string(static_cast<int>(GetParam().security)) + (GetParam().passive ? "p" : "a");
        remote = fs::path(servers.ftpsRoot) / folder;
        bw::test::makeOpenFolder(remote);
        ftp.setObserver(&Recorder::observe, &recorder);
    }

    void TearDown() override
    {
        ftp.disconnect(15);
        std::error_code ignored;
        fs::remove_all(remote, ignored);
    }

    FtpSite site() const
    {
        const bool implicit = GetParam().security == FtpSecurity::ImplicitTls;
        FtpSite site{"127.0.0.1", implicit ? servers.ftpsPort : servers.ftpesPort, servers.ftpUser,
            servers.ftpPassword, 5};
        site.security = GetParam().security;
        return site;
    }

    bool passive() const { return GetParam().passive; }

    bw::test::TlsServers servers;
    TempDir emptyFolder;
    std::string folder;
    fs::path remote;
    Recorder recorder;
    FtpConnection ftp;
    TempDir local;
};

// The server takes a TLS 1.3 session only once: every data connection of one login must still
// resume one, uploads (whose connection is never read) as much as downloads and listings.
TEST_P(FtpsVsftpd, ManyTransfersOnOneLoginAreByteIdentical)
{
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(site())) << ftp.error().text() << ": " << ftp.error().detail();
    ASSERT_TRUE(ftp.changeDirectory("/" + folder));
    EXPECT_TRUE(recorder.sent("PROT P"));
    EXPECT_EQ(recorder.sent("AUTH TLS"), GetParam().security == FtpSecurity::ExplicitTls);

    const std::vector<std::size_t> sizes{0, 1, 1000, 70000, 2 * 1024 * 1024 + 3};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::string name = "up" + std::to_string(i) + ".bin";
        const std::string bytes = bw::test::patternBytes(sizes[i], static_cast<unsigned>(i) + 20);
        bw::test::writeFile(local / name, bytes);
        ASSERT_TRUE(ftp.upload((local / name).string(), name, true, passive()))
            << name << ": " << ftp.error().text() << " " << ftp.error().detail() << " / "
            << recorder.lastReply;
        EXPECT_EQ(bw::test::readFile(remote / name), bytes) << name;
    }
    ASSERT_TRUE(ftp.list("", true, passive())) << ftp.error().text() << " " << ftp.error().detail();
    int entries = 0;
    while (ftp.parseNextEntry("*"))
        ++entries;
    EXPECT_EQ(entries, static_cast<int>(sizes.size()));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::string name = "up" + std::to_string(i) + ".bin";
        const fs::path back = local / ("back" + std::to_string(i));
        ASSERT_TRUE(
            ftp.download(back.string(), name, true, passive(), static_cast<std::int64_t>(sizes[i]), false))
            << name << ": " << ftp.error().text() << " " << ftp.error().detail();
        EXPECT_EQ(bw::test::readFile(back), bw::test::readFile(remote / name)) << name;
    }
}

// A speed limit cuts the writes into the limiter's grants; a TLS write that would block must still be
// repeated whole, or the upload fails half-way.
TEST_P(FtpsVsftpd, SpeedLimitedUploadIsByteIdentical)
{
    SpeedLimits limits;
    limits.setMaxKBps(3000);
    ftp.dataConnection().setSpeedLimits(&limits);
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(site())) << ftp.error().text() << ": " << ftp.error().detail();
    ASSERT_TRUE(ftp.changeDirectory("/" + folder));
    const std::string bytes = bw::test::patternBytes(2 * 1024 * 1024 + 11, 31);
    bw::test::writeFile(local / "limited.bin", bytes);
    ASSERT_TRUE(ftp.upload((local / "limited.bin").string(), "limited.bin", true, passive()))
        << ftp.error().text() << " " << ftp.error().detail() << " / " << recorder.lastReply;
    EXPECT_TRUE(bw::test::readFile(remote / "limited.bin") == bytes);
    ftp.dataConnection().setSpeedLimits(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Forms, FtpsVsftpd,
    ::testing::Values(TlsCase{FtpSecurity::ImplicitTls, true}, TlsCase{FtpSecurity::ImplicitTls, false},
        TlsCase{FtpSecurity::ExplicitTls, true}, TlsCase{FtpSecurity::ExplicitTls, false}),
    [](const auto &param) {
        return std::string(param.param.security == FtpSecurity::ImplicitTls ? "Implicit" : "Explicit")
            + (param.param.passive ? "Passive" : "Active");
    });

// A server without TLS answers AUTH TLS with a refusal: the login stops there, nothing goes in the clear.
TEST(FtpsPlainServer, ARefusedAuthTlsEndsTheLoginBeforeTheUserName)
{
    const bw::test::FtpServer server = bw::test::ftpServer();
    ASSERT_NE(server.port, 0) << "the vsftpd test server is needed";
    Recorder recorder;
    FtpConnection ftp;
    ftp.setObserver(&Recorder::observe, &recorder);
    ASSERT_TRUE(ftp.createAndBind(0));
    FtpSite site{server.host, server.port, server.user, server.password, 6};
    site.security = FtpSecurity::ExplicitTls;
    EXPECT_FALSE(ftp.login(site));
    EXPECT_TRUE(ftp.error().is(CatProtocol, TlsFailed)) << ftp.error().text();
    EXPECT_TRUE(ftp.error().detail().starts_with("The server refused TLS: 5")) << ftp.error().detail();
    EXPECT_TRUE(recorder.sent("AUTH TLS"));
    EXPECT_FALSE(recorder.sent("USER " + server.user));
    ftp.disconnect(15);
}

} // namespace
} // namespace bw::net
