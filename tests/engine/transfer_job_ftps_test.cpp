// SPDX-License-Identifier: MIT
// Queue items over FTP with TLS against the loopback vsftpd instances that demand TLS and session
// reuse: downloads, uploads, resume, directory trees, refused certificates, and never TLS items on a
// plain connection.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/url.h"
#include "remote_folder_fixture.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "support/tls_test_servers.h"
#include "support/wait_until.h"

namespace bw::test {
namespace {

namespace fs = std::filesystem;

struct FormCase
{
    const char *download; // the scheme of downloads; uploads add "u"
    bool implicit;
    bool passive;
};

class FtpsJobTest : public RemoteFolderTest, public ::testing::WithParamInterface<FormCase>
{
protected:
    void SetUp() override
    {
        servers = tlsServers();
        ASSERT_NE(servers.ftpsPort, 0) << "the vsftpd TLS test servers are needed";
        trustOnly(servers.caFile, emptyFolder.path().string());
        setQueueDefault(queue, &core::QueueDefaults::passive, GetParam().passive);
        const int port = GetParam().implicit ? servers.ftpsPort : servers.ftpesPort;
        useRemoteFolder(servers.ftpsRoot,
            "ftps-job-" + std::to_string(::getpid()) + "-" + GetParam().download
                + (GetParam().passive ? "p" : "a"),
            servers.ftpUser + ":" + servers.ftpPassword + "@127.0.0.1:" + std::to_string(port));
    }

    std::string download(const std::string &path) const { return folderUrl(GetParam().download, path); }

    std::string upload(const std::string &path) const
    {
        return folderUrl(std::string(GetParam().download) + "u", path);
    }

    TlsServers servers;
    TempDir emptyFolder;
};

// One worker, one login: every data connection after the first must still resume a session.
TEST_P(FtpsJobTest, DownloadsUploadsAndResumesAreByteIdentical)
{
    const std::string big = patternBytes(3 * 1024 * 1024 + 17, 41);
    const std::string small = patternBytes(1000, 42);
    writeFile(remoteRoot / "big.bin", big);
    writeFile(remoteRoot / "small.bin", small);
    writeFile(local / "resumed.bin.part", big.substr(0, 1234567));
    writeFile(local / "up1.bin", patternBytes(2 * 1024 * 1024 + 3, 43));
    writeFile(local / "up2.bin", "x");
    writeFile(local / "up3.bin", "");
    scheduler.setMaxThreads(1);
    const std::vector<std::int32_t> ids{
        queue.addItem(download("/big.bin"), (local / "big.bin").string()),
        queue.addItem(upload("/sent/up1.bin"), (local / "up1.bin").string()),
        queue.addItem(upload("/sent/up2.bin"), (local / "up2.bin").string()),
        queue.addItem(upload("/sent/up3.bin"), (local / "up3.bin").string()),
        queue.addItem(download("/small.bin"), (local / "small.bin").string()),
        queue.addItem(download("/big.bin"), (local / "resumed.bin").string()),
    };
    start();
    for (const auto id : ids)
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished))
            << core::statusTextWithDetail(core::snapshotOrVanished(queue, id));
    EXPECT_EQ(readFile(local / "big.bin"), big);
    EXPECT_EQ(readFile(local / "small.bin"), small);
    EXPECT_EQ(readFile(local / "resumed.bin"), big);
    for (const char *name : {"up1.bin", "up2.bin", "up3.bin"})
        EXPECT_EQ(readFile(remoteRoot / "sent" / name), readFile(local / name)) << name;
    EXPECT_TRUE(notifier.sawLine("REST 1234567"));
    EXPECT_TRUE(notifier.sawLine("PROT P"));
    EXPECT_EQ(notifier.sawLine("AUTH TLS"), !GetParam().implicit);
    EXPECT_EQ(notifier.count("USER " + servers.ftpUser), 1);
}

TEST_P(FtpsJobTest, ARemoteDirectoryExpandsIntoAnIdenticalTree)
{
    makeTree(remoteRoot / "tree");
    openUp(remoteRoot);
    const auto id = queue.addItem(download("/tree"), (local / "copy").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitAllSettled());
    expectAllFinished();
    for (const char *name : {"top.bin", "sub/mid.bin", "sub/deeper/leaf.bin", "sub/deeper/zero.bin"})
        EXPECT_EQ(readFile(local / "copy" / name), readFile(remoteRoot / "tree" / name)) << name;
    EXPECT_TRUE(fs::is_directory(local / "copy/empty"));
    // The children keep the parent's scheme, so they are fetched over TLS too.
    EXPECT_EQ(idsEndingWith("/tree/sub/deeper/leaf.bin").size(), 1u);
    for (const auto itemId : queue.ids())
        EXPECT_TRUE(core::snapshotOrVanished(queue, itemId)
                        .url.starts_with(std::string(GetParam().download) + "://"));
}

TEST_P(FtpsJobTest, AnUnknownCertificateAuthorityEndsTheItemWithItsReason)
{
    trustOnly("", emptyFolder.path().string());
    writeFile(remoteRoot / "f.bin", "secret");
    const auto id = queue.addItem(download("/f.bin"), (local / "f.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusError));
    ASSERT_TRUE(waitAllSettled());
    // Ended at once, without a second try, and its reason logged once.
    EXPECT_TRUE(core::snapshotOrVanished(queue, id).endedForGood);
    EXPECT_EQ(notifier.count("Certificate verification failed: unknown certificate authority"), 1);
    EXPECT_EQ(core::statusTextWithDetail(core::snapshotOrVanished(queue, id)),
        "Error (Certificate verification failed: unknown certificate authority)");
    EXPECT_FALSE(notifier.sawLine("USER " + servers.ftpUser));
    EXPECT_FALSE(fs::exists(local / "f.bin"));
}

INSTANTIATE_TEST_SUITE_P(Forms, FtpsJobTest,
    ::testing::Values(FormCase{"ftps", true, true}, FormCase{"ftps", true, false},
        FormCase{"ftpes", false, true}, FormCase{"ftpes", false, false}),
    [](const auto &param) {
        return std::string(param.param.download) + (param.param.passive ? "Passive" : "Active");
    });

// An item that asked for TLS never travels on a plain connection of the same site, even when a plain
// item of that site ran just before on the same worker: a server without TLS refuses it.
class FtpsPlainSiteTest : public RemoteFolderTest
{};

TEST_F(FtpsPlainSiteTest, ATlsItemNeverTakesOverAPlainConnection)
{
    const FtpServer server = ftpServer();
    ASSERT_NE(server.port, 0) << "the vsftpd test server is needed";
    useRemoteFolder(server.root, "ftps-plain-" + std::to_string(::getpid()),
        server.user + ":" + server.password + "@" + server.host + ":" + std::to_string(server.port));
    putRemote("f.bin", "plain bytes");
    scheduler.setMaxThreads(1);
    const auto plain = queue.addItem(folderUrl("ftp", "/f.bin"), (local / "plain.bin").string());
    const auto secured = queue.addItem(folderUrl("ftpes", "/f.bin"), (local / "secured.bin").string());
    start();
    EXPECT_TRUE(waitStatus(plain, core::ItemStatus::StatusFinished));
    EXPECT_TRUE(waitUntil([&] {
        return core::snapshotOrVanished(queue, secured).statusDetail.starts_with("The server refused TLS: ");
    })) << core::statusTextWithDetail(core::snapshotOrVanished(queue, secured));
    EXPECT_TRUE(notifier.sawLine("AUTH TLS"));
    EXPECT_EQ(readFile(local / "plain.bin"), "plain bytes");
    EXPECT_FALSE(fs::exists(local / "secured.bin"));
}

} // namespace
} // namespace bw::test
