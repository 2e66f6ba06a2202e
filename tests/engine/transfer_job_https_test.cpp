// SPDX-License-Identifier: MIT
#include <filesystem>

#include <gtest/gtest.h>

#include "core/url.h"
#include "engine/certificate_trust_store.h"
#include "engine/transfer_job.h"
#include "net/certificate_probe.h"
#include "remote_folder_fixture.h"
#include "support/temp_dir.h"
#include "support/tls_test_servers.h"
#include "support/wait_until.h"

namespace bw::test {
namespace {

class HttpsJobTest : public RemoteFolderTest
{
protected:
    void SetUp() override
    {
        servers = tlsServers();
        ASSERT_NE(servers.httpsPort, 0) << "the nginx TLS test server is needed";
        trustOnly(servers.caFile, emptyFolder.path().string());
        useRemoteFolder(servers.httpsRoot, nameForThisTest("tls"));
    }

    std::string https(const std::string &host, const std::string &path) const
    {
        return "https://" + host + ":" + std::to_string(servers.httpsPort) + path;
    }

    std::string http(const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(servers.httpsPlainPort) + path;
    }

    ::testing::AssertionResult waitLine(const std::string &line)
    {
        if (waitUntil([&] { return notifier.sawLine(line); }, std::chrono::seconds(30)))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no status line \"" << line << "\"";
    }

    TlsServers servers;
    TempDir emptyFolder;
};

TEST_F(HttpsJobTest, DownloadsAndResumesByteIdenticalByNameAndByAddress)
{
    const std::string body = patternBytes(3 * 1024 * 1024 + 17, 11);
    putRemote("f.bin", body);
    writeFile(local / "resumed.bin.part", body.substr(0, 1000000));
    const auto byName = queue.addItem(https("localhost", remote("f.bin")), (local / "name.bin").string());
    const auto byAddress =
        queue.addItem(https("127.0.0.1", remote("f.bin")), (local / "address.bin").string());
    const auto resumed = queue.addItem(https("127.0.0.1", remote("f.bin")), (local / "resumed.bin").string());
    start();
    for (const auto id : {byName, byAddress, resumed})
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    EXPECT_EQ(readFile(local / "name.bin"), body);
    EXPECT_EQ(readFile(local / "address.bin"), body);
    EXPECT_EQ(readFile(local / "resumed.bin"), body);
}

TEST_F(HttpsJobTest, AnUnknownCertificateAuthorityIsRefusedWithItsReason)
{
    trustOnly("", emptyFolder.path().string());
    putRemote("f.bin", "secret");
    const auto id = queue.addItem(https("127.0.0.1", remote("f.bin")), (local / "f.bin").string());
    start();
    ASSERT_TRUE(waitLine("Certificate verification failed: unknown certificate authority"));
    EXPECT_NE(core::snapshotOrVanished(queue, id).status, core::ItemStatus::StatusFinished);
    EXPECT_FALSE(std::filesystem::exists(local / "f.bin"));
}

TEST_F(HttpsJobTest, AStoredFingerprintTrustsTheCertificateUntilItChanges)
{
    trustOnly("", emptyFolder.path().string());
    const std::string refusal = "Certificate verification failed: unknown certificate authority";
    putRemote("f.bin", "trusted bytes");
    net::CertificateProbe probe;
    const net::CertificateProbeResult fetched =
        probe.fetch("127.0.0.1", servers.httpsPort, net::TlsStart::Implicit, 10);
    ASSERT_TRUE(fetched.hasCertificate) << fetched.error;
    EXPECT_EQ(fetched.verifyFailure, refusal);
    const auto detailOf = [this](int id) {
        return core::snapshotOrVanished(queue, id).statusDetail;
    };

    // Refused, with the reason in the item's row text.
    const auto first = queue.addItem(https("127.0.0.1", remote("f.bin")), (local / "f.bin").string());
    start();
    // The row text is read the moment the item has ended: sites here rest no time, so it is soon
    // tried again.
    std::string refusedText;
    ASSERT_TRUE(waitUntil(
        [&] {
            const core::QueueItem item = core::snapshotOrVanished(queue, first);
            if (item.status != core::ItemStatus::StatusError || item.statusDetail != refusal)
                return false;
            refusedText = core::statusTextWithDetail(item);
            return true;
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(refusedText, "Error (" + refusal + ")");
    EXPECT_FALSE(std::filesystem::exists(local / "f.bin"));

    // Trusted once its fingerprint is stored: the item, retried as Trust Certificate does, downloads.
    ASSERT_TRUE(
        transferEngine.trustStore().trust("127.0.0.1", servers.httpsPort, fetched.certificate.sha256));
    EXPECT_TRUE(core::snapshotOrVanished(queue, first).endedForGood);
    ASSERT_TRUE(queue.resetForRetry(first));
    ASSERT_TRUE(waitStatus(first, core::ItemStatus::StatusFinished));
    EXPECT_EQ(readFile(local / "f.bin"), "trusted bytes");

    // A different stored fingerprint (the server's certificate changed) is refused again.
    const std::string other = fetched.certificate.sha256.substr(0, 2) == "00"
        ? "11" + fetched.certificate.sha256.substr(2)
        : "00" + fetched.certificate.sha256.substr(2);
    ASSERT_TRUE(transferEngine.trustStore().trust("127.0.0.1", servers.httpsPort, other));
    const auto second = queue.addItem(https("127.0.0.1", remote("f.bin")), (local / "g.bin").string());
    ASSERT_TRUE(waitUntil([&] { return detailOf(second) == refusal; }, std::chrono::seconds(30)));
    EXPECT_NE(core::snapshotOrVanished(queue, second).status, core::ItemStatus::StatusFinished);
    EXPECT_FALSE(std::filesystem::exists(local / "g.bin"));
}

TEST_F(HttpsJobTest, RedirectsFromHttpToHttpsAreFollowedAndNeverBack)
{
    const std::string body = readFile(std::filesystem::path(servers.httpsRoot) / "files/a.bin");
    ASSERT_EQ(body.size(), 100000u);
    const auto up = queue.addItem(http("/to-https"), (local / "up.bin").string());
    const auto down = queue.addItem(https("127.0.0.1", "/to-http"), (local / "down.bin").string());
    const auto elsewhere =
        queue.addItem(https("127.0.0.1", "/to-http-other-host"), (local / "other.bin").string());
    start();
    ASSERT_TRUE(waitStatus(up, core::ItemStatus::StatusFinished));
    // Leaving TLS is refused for the same host as for any other.
    ASSERT_TRUE(waitStatus(down, core::ItemStatus::StatusError));
    ASSERT_TRUE(waitLine("Refused redirect from https to http"));
    ASSERT_TRUE(waitAllSettled());
    EXPECT_EQ(readFile(local / "up.bin"), body);
    EXPECT_FALSE(std::filesystem::exists(local / "down.bin"));
    EXPECT_EQ(
        idsEndingWith("localhost:" + std::to_string(servers.httpsPlainPort) + "/files/a.bin").size(), 0u);
    EXPECT_EQ(
        idsEndingWith("127.0.0.1:" + std::to_string(servers.httpsPlainPort) + "/files/a.bin").size(), 0u);
    EXPECT_EQ(idsEndingWith("127.0.0.1:" + std::to_string(servers.httpsPort) + "/files/a.bin").size(), 1u);
    EXPECT_TRUE(waitStatus(elsewhere, core::ItemStatus::StatusError));
    EXPECT_FALSE(std::filesystem::exists(local / "other.bin"));
}

} // namespace
} // namespace bw::test
