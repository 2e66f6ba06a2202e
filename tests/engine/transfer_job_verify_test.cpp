// SPDX-License-Identifier: MIT
// Checksums against real servers: proftpd's HASH for downloads, uploads and resumed parts, the user's
// own values, and nginx's true and false Repr-Digest and Digest headers.
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "remote_folder_fixture.h"
#include "support/ftp_script.h"
#include "support/queue_defaults.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::test {
namespace {

namespace fs = std::filesystem;

// The digest through OpenSSL's one-shot call, independent of the code under test.
std::string hexDigest(const EVP_MD *md, const std::string &bytes)
{
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), value, &length, md, nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[value[i] >> 4];
        hex += kDigits[value[i] & 15];
    }
    return hex;
}

struct VerifyCase
{
    const char *name;
    std::optional<std::string> localPart; // what the part file holds before the download
    std::string userChecksum; // "" for none; "sha1", "md5" for the file's true value, else as given
    core::ItemStatus status;
    const char *line; // in the Batch Log
    bool keptAside; // a "NAME.mismatch" remains
};

class VerifyFtpTest : public RemoteFolderTest
{
protected:
    void SetUp() override
    {
        server = proftpdServer();
        ASSERT_NE(server.port, 0) << "the proftpd test server is needed";
        useRemoteFolder(server.root, nameForThisTest("h4"),
            server.user + ":" + server.password + "@" + server.host + ":" + std::to_string(server.port));
    }

    std::string lastLines()
    {
        std::string out;
        const auto all = notifier.lines();
        for (std::size_t i = all.size() > 60 ? all.size() - 60 : 0; i < all.size(); ++i)
            out += all[i] + "\n";
        return out;
    }

    FtpServer server;
};

TEST_F(VerifyFtpTest, DownloadsEndAsTheirChecksumSays)
{
    const std::string body = patternBytes(300000, 5);
    std::string corrupted = body.substr(0, 120000);
    corrupted[1000] ^= 0x55;
    const VerifyCase cases[] = {
        {"server hash", std::nullopt, "", core::ItemStatus::StatusFinished, "Verified SHA-256 (server HASH)",
            false},
        // A plain resume would append to the bad bytes: the file is fetched once more from the start.
        {"corrupted part", corrupted, "", core::ItemStatus::StatusFinished, "Verified SHA-256 (server HASH)",
            true},
        {"right user value", std::nullopt, "sha1", core::ItemStatus::StatusFinished,
            "Verified SHA-1 (user checksum)", false},
        {"wrong user value", std::nullopt, "md5=00112233445566778899aabbccddeeff",
            core::ItemStatus::StatusError, "Checksum mismatch (MD5 from the user's checksum)", true},
    };
    putRemote("f.bin", body);
    scheduler.setMaxThreads(1);
    queue.setTryLimit(1); // the failure stays to be seen
    std::vector<int> ids;
    for (const VerifyCase &c : cases) {
        const fs::path target = local / c.name / "f.bin";
        fs::create_directories(target.parent_path());
        if (c.localPart)
            writeFile(target.string() + ".part", *c.localPart);
        const auto id = queue.addItem(folderUrl("ftp", "/f.bin"), target.string());
        const std::string user =
            c.userChecksum == "sha1" ? "sha1=" + hexDigest(EVP_sha1(), body) : c.userChecksum;
        if (!user.empty())
            queue.setChecksum(id, *core::parseUserChecksum(user));
        ids.push_back(id);
    }
    start();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const VerifyCase &c = cases[i];
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(waitStatus(ids[i], c.status)) << lastLines();
        const fs::path target = local / c.name / "f.bin";
        EXPECT_EQ(core::snapshotOrVanished(queue, ids[i]).statusDetail, c.line);
        EXPECT_TRUE(notifier.sawLine(c.line));
        EXPECT_EQ(fs::exists(target.string() + ".mismatch"), c.keptAside);
        EXPECT_FALSE(fs::exists(target.string() + ".part"));
        if (c.status == core::ItemStatus::StatusFinished) {
            EXPECT_EQ(readFile(target), body);
        } else {
            EXPECT_FALSE(fs::exists(target));
        }
    }
    // The user's value is never checked against the server's. The corrupted part asks for its range
    // first (proftpd hashes the whole file instead, which tells nothing) and for both downloads after.
    EXPECT_EQ(notifier.count("HASH f.bin"), 4);
    EXPECT_EQ(notifier.count("RETR f.bin"), 6);
}

TEST_F(VerifyFtpTest, AnUploadIsCheckedWithTheServersHash)
{
    const std::string body = patternBytes(250000, 9);
    writeFile(local / "up.bin", body);
    const auto id = queue.addItem(folderUrl("ftpu", "/up.bin"), (local / "up.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    EXPECT_EQ(readFile(remoteRoot / "up.bin"), body);
    EXPECT_TRUE(notifier.sawLine("Verified SHA-256 (server HASH)"));
}

// A server whose HASH of the part disagrees, and whose HASH of the file is false: the part is started
// over rather than resumed, the false file is fetched once more, and the item fails with both kept aside.
TEST_F(EngineTest, AFalseServerHashFailsTheItemAfterASecondFetch)
{
    using Step = ScriptedServer::Step;
    const std::string body = patternBytes(10000, 4);
    const std::string falseHash(64, '0');
    TempDir local;
    writeFile(local / "f.bin.part", std::string(4000, 'x'));
    ScriptedServer server;
    greetAndLogIn(server);
    server.reply("PWD", "257 \"/\" is the current directory").reply("cwd /d/", "250 ok");
    // The first listing asks what the server offers.
    server.expect("FEAT");
    server.sendRaw("211-Features:\r\n HASH SHA-256*;MD5\r\n RANG STREAM\r\n211 End\r\n");
    server.expect("PASV");
    server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("LIST f.bin", "150 here")
        .add(Step::DataAccept)
        .add(Step::DataSend, fileLine("f.bin", body.size()));
    server.add(Step::DataClose).send("226 done");
    server.reply("TYPE I", "200 binary").reply("RANG 0 3999", "350 range");
    server.reply(
        "HASH f.bin", "213 SHA-256 0-4000 " + hexDigest(EVP_sha256(), body.substr(0, 4000)) + " f.bin");
    server.reply("RANG 1 0", "350 reset");
    for (int fetch = 0; fetch < 2; ++fetch) {
        server.expect("PASV");
        server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.reply("RETR f.bin", "150 here").add(Step::DataAccept).add(Step::DataSend, body);
        server.add(Step::DataClose).send("226 done");
        server.reply("HASH f.bin", "213 SHA-256 0-10000 " + falseHash + " f.bin");
    }
    server.start();
    test::setQueueDefault(queue, &core::QueueDefaults::passive, true);
    queue.setTryLimit(1); // the failure stays to be seen
    const auto id = queue.addItem(
        "ftp://u:p@127.0.0.1:" + std::to_string(server.port()) + "/d/f.bin", (local / "f.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusError));
    ASSERT_TRUE(server.waitFinished());
    EXPECT_TRUE(server.failures().empty()) << ::testing::PrintToString(server.failures());
    const std::string mismatch = "Checksum mismatch (SHA-256 from the server's HASH)";
    EXPECT_EQ(core::snapshotOrVanished(queue, id).statusDetail, mismatch);
    EXPECT_TRUE(notifier.sawLine(mismatch));
    EXPECT_TRUE(notifier.sawLine("Expected SHA-256 " + falseHash + " from the server's HASH; the file has "
        + hexDigest(EVP_sha256(), body)));
    EXPECT_TRUE(notifier.sawLine("The partial file differs from the server's file; starting over."));
    EXPECT_EQ(readFile(local / "f.bin.mismatch"), body);
    EXPECT_EQ(readFile(local / "f.bin (1).mismatch"), body);
    EXPECT_FALSE(fs::exists(local / "f.bin"));
    EXPECT_FALSE(fs::exists(local / "f.bin.part"));
}

class VerifyHttpTest : public RemoteFolderTest
{
protected:
    void SetUp() override
    {
        server = httpServer();
        ASSERT_NE(server.port, 0) << "the nginx test server is needed";
    }

    HttpServer server;
};

TEST_F(VerifyHttpTest, ResponsesAreCheckedWithTheirDigestHeaders)
{
    const struct
    {
        const char *path;
        core::ItemStatus status;
        const char *line;
        int requests;
    } cases[] = {
        {"/digest/true.bin", core::ItemStatus::StatusFinished, "Verified SHA-256 (server Repr-Digest)", 1},
        {"/digest/legacy.bin", core::ItemStatus::StatusFinished, "Verified MD5 (server Digest)", 1},
        {"/digest/false.bin", core::ItemStatus::StatusError,
            "Checksum mismatch (SHA-256 from the server's Repr-Digest)", 2},
    };

    const std::string body = readFile(fs::path(server.root) / "files/digest.bin");
    queue.setTryLimit(1); // the failure stays to be seen
    std::vector<int> ids;
    for (const auto &c : cases)
        ids.push_back(queue.addItem("http://" + server.host + ":" + std::to_string(server.port) + c.path,
            (local / fs::path(c.path).filename()).string()));
    start();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto &c = cases[i];
        const auto id = ids[i];
        SCOPED_TRACE(c.path);
        const fs::path target = local / fs::path(c.path).filename();
        ASSERT_TRUE(waitStatus(id, c.status));
        EXPECT_EQ(core::snapshotOrVanished(queue, id).statusDetail, c.line);
        EXPECT_EQ(notifier.count("GET " + std::string(c.path) + " HTTP/1.1"), c.requests);
        if (c.status == core::ItemStatus::StatusFinished) {
            EXPECT_EQ(readFile(target), body);
        }
    }
    EXPECT_TRUE(notifier.sawLine("Want-Repr-Digest: sha-256=10, sha-512=5"));
}

} // namespace
} // namespace bw::test
