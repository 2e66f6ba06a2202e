// SPDX-License-Identifier: MIT
// FTP (EPSV passive, EPRT active) and HTTP over IPv6 against the vsftpd and nginx that listen on ::1
// (BW_TEST_FTP6_*, BW_TEST_HTTP6_*); fails when they are missing.
#include <filesystem>

#include <gtest/gtest.h>
#include <unistd.h>

#include "net/ftp_connection.h"
#include "net/http_connection.h"
#include "support/protocol_recorder.h"
#include "support/server_folder.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::net {
namespace {

namespace fs = std::filesystem;

using Recorder = bw::test::ProtocolRecorder;

class FtpOverIpv6 : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        server = bw::test::ftp6Server();
        ASSERT_NE(server.port, 0) << "the ::1 vsftpd is not running";
        folder = "ftp6_" + std::to_string(::getpid()) + (GetParam() ? "_passive" : "_active");
        remote = fs::path(server.root) / folder;
        bw::test::makeOpenFolder(remote);
        ftp.setObserver(&Recorder::observe, &lines);
        ASSERT_TRUE(ftp.createAndBind(0));
        ASSERT_TRUE(ftp.login(FtpSite{server.host, server.port, server.user, server.password, 5}))
            << ftp.error().text();
        ASSERT_TRUE(ftp.changeDirectory("/" + folder));
    }

    void TearDown() override
    {
        ftp.disconnect(15);
        std::error_code ec;
        fs::remove_all(remote, ec);
    }

    bw::test::FtpServer server;
    std::string folder;
    fs::path remote;
    Recorder lines;
    FtpConnection ftp;
    bw::test::TempDir local;
};

TEST_P(FtpOverIpv6, UploadsAndDownloadsByteIdentical)
{
    const bool passive = GetParam();
    const std::string bytes = bw::test::patternBytes(2 * 1024 * 1024 + 5);
    bw::test::writeFile(local / "up.bin", bytes);
    ASSERT_TRUE(ftp.upload((local / "up.bin").string(), "up.bin", true, passive)) << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(remote / "up.bin"), bytes);
    ASSERT_TRUE(ftp.download((local / "down.bin").string(), "up.bin", true, passive,
        static_cast<std::int64_t>(bytes.size()), false))
        << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(local / "down.bin"), bytes);
    ASSERT_TRUE(ftp.list("", true, passive)) << ftp.error().text();
    EXPECT_NE(ftp.listingText().find("up.bin"), std::string::npos);

    ASSERT_FALSE(lines.status.empty());
    EXPECT_EQ(lines.status.front(), "Connected to ::1 port " + std::to_string(server.port));
    if (passive) {
        EXPECT_TRUE(lines.sentStartingWith("EPSV"));
        EXPECT_FALSE(lines.sentStartingWith("PASV"));
        EXPECT_EQ(ftp.pasvHost(), "::1");
    } else {
        EXPECT_TRUE(lines.sentStartingWith("EPRT |2|::1|"));
        EXPECT_FALSE(lines.sentStartingWith("PORT"));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpOverIpv6, ::testing::Values(true, false),
    [](const auto &paramInfo) { return paramInfo.param ? std::string("Passive") : std::string("Active"); });

TEST(FtpOverIpv4, PassiveUsesEpsvOnVsftpd)
{
    const bw::test::FtpServer server = bw::test::ftpServer();
    ASSERT_NE(server.port, 0);
    FtpConnection ftp;
    Recorder lines;
    ftp.setObserver(&Recorder::observe, &lines);
    ASSERT_TRUE(ftp.login(FtpSite{server.host, server.port, server.user, server.password, 6}))
        << ftp.error().text();
    ASSERT_TRUE(ftp.list("/", false, true)) << ftp.error().text();
    EXPECT_TRUE(lines.sentStartingWith("EPSV"));
    EXPECT_FALSE(ftp.isEpsvRefused());
    ftp.disconnect(15);
}

TEST(HttpOverIpv6, DownloadsFromNginxOnLoopback)
{
    const bw::test::HttpServer server = bw::test::http6Server();
    ASSERT_GT(server.port, 0);
    const std::string folder = "http6-" + std::to_string(::getpid());
    const std::string bytes = bw::test::patternBytes(1024 * 1024 + 3);
    bw::test::writeFile(fs::path(server.root) / folder / "f.bin", bytes);
    bw::test::TempDir local;
    HttpConnection http;
    Recorder lines;
    http.setObserver(&Recorder::observe, &lines);
    ASSERT_TRUE(http.connect(server.host, server.port, "", "", 8)) << http.error().text();
    ASSERT_TRUE(http.download((local / "f.bin").string(), "/" + folder + "/f.bin")) << http.error().text();
    EXPECT_EQ(bw::test::readFile(local / "f.bin"), bytes);
    EXPECT_EQ(http.error().status(), 200);
    ASSERT_FALSE(lines.status.empty());
    EXPECT_EQ(lines.status.front(), "Connected to ::1 port " + std::to_string(server.port));
    std::error_code ec;
    fs::remove_all(fs::path(server.root) / folder, ec);
}

TEST(HttpOverIpv6, HostHeaderBracketsTheAddress)
{
    EXPECT_EQ(HttpConnection::hostHeaderValue("::1", 8181), "[::1]:8181");
    EXPECT_EQ(HttpConnection::hostHeaderValue("2001:db8::1", 80), "[2001:db8::1]");
    EXPECT_EQ(HttpConnection::hostHeaderValue("files.example", 8080), "files.example:8080");
    EXPECT_EQ(HttpConnection::hostHeaderValue("files.example", 80), "files.example");
    EXPECT_EQ(HttpConnection::hostHeaderValue("files.example", 443, HttpConnection::kDefaultHttpsPort),
        "files.example");
    EXPECT_EQ(HttpConnection::hostHeaderValue("files.example", 80, HttpConnection::kDefaultHttpsPort),
        "files.example:80");
}

} // namespace
} // namespace bw::net
