// SPDX-License-Identifier: MIT
// Transfer jobs against a scripted FTP server: exact reply sequences for a cut download, a ratio site
// and a hostile listing.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <utility>

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "support/ftp_script.h"
#include "support/queue_defaults.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace bw::test {
namespace {

using Step = ScriptedServer::Step;

// A Unix listing line for a link named `name` that points at `target`.
std::string linkLine(const std::string &name, const std::string &target)
{
    return "lrwxrwxrwx    1 ftp      ftp             1 Jan 01 12:00 " + name + " -> " + target + "\r\n";
}

class ScriptedJobTest : public EngineTest
{
protected:
    ScriptedJobTest()
    {
        test::setQueueDefault(queue, &core::QueueDefaults::passive, true);
        scheduler.setMaxThreads(1);
    }

    std::string url(const std::string &scheme, const std::string &path) const
    {
        return scheme + "://u:p@127.0.0.1:" + std::to_string(server.port()) + path;
    }

    void login(bool accept = false)
    {
        if (accept)
            server.add(Step::Accept);
        server.send("220 scripted");
        server.reply("USER u", "331 password");
        server.reply("PASS p", "230 in");
    }

    void enterDirectory(const std::string &path)
    {
        server.reply("PWD", "257 \"/\" is the current directory");
        server.reply("cwd " + path, "250 ok");
    }

    // PASV, then `command` answered 150, the data, and the closing reply.
    void dataExchange(
        const std::string &command, const std::string &data, const std::string &closing = "226 done")
    {
        server.expect("PASV");
        server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.reply(command, "150 here");
        server.add(Step::DataAccept);
        if (!data.empty())
            server.add(Step::DataSend, data);
        server.add(Step::DataClose);
        server.send(closing);
    }

    void uploadExchange(const std::string &command)
    {
        server.reply("TYPE I", "200 binary");
        server.expect("PASV");
        server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.reply(command, "150 send it");
        server.add(Step::DataAccept);
        server.add(Step::DataReceive);
        server.send("226 stored");
    }

    // The next attempt of /d/f.bin on a new login, resumed at `offset` with the rest of `body`.
    void resumedDownload(const std::string &body, std::size_t offset)
    {
        login(true);
        enterDirectory("/d/");
        dataExchange("LIST f.bin", fileLine("f.bin", body.size()));
        server.reply("TYPE I", "200 binary");
        server.expect("PASV");
        server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.reply("REST " + std::to_string(offset), "350 restarting");
        server.reply("RETR f.bin", "150 here");
        server.add(Step::DataAccept);
        server.add(Step::DataSend, body.substr(offset));
        server.add(Step::DataClose);
        server.send("226 done");
        server.reply("QUIT", "221 bye");
    }

    // Plays the script for a download of /d/f.bin that fails first and then ends whole, never taken
    // for a ratio site's refusal.
    void expectFailedThenResumed(const std::string &body)
    {
        server.start();
        const auto id = queue.addItem(url("ftp", "/d/f.bin"), (local / "f.bin").string());
        const StatusTrail seen(notifier, queue, id);
        start();
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
        expectCleanScript();
        EXPECT_EQ(readFile(local / "f.bin"), body);
        EXPECT_TRUE(seen.saw(core::ItemStatus::StatusTransferFailed));
        EXPECT_FALSE(seen.saw(core::ItemStatus::StatusRatioActive));
        EXPECT_FALSE(seen.saw(core::ItemStatus::StatusRatioNeedsUpload));
    }

    bool receivedLine(const std::string &line) const
    {
        const auto lines = server.received();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    void expectCleanScript()
    {
        ASSERT_TRUE(server.waitFinished());
        EXPECT_TRUE(server.failures().empty()) << ::testing::PrintToString(server.failures());
    }

    ScriptedServer server;
    TempDir local;
};

TEST_F(ScriptedJobTest, ADownloadCutMidwayResumesWithRestAndEndsIdentical)
{
    const std::string body = patternBytes(10000, 11);
    login();
    enterDirectory("/d/");
    dataExchange("LIST f.bin", fileLine("f.bin", body.size()));
    server.reply("TYPE I", "200 binary");
    server.expect("PASV");
    server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("RETR f.bin", "150 here");
    server.add(Step::DataAccept);
    server.add(Step::DataSend, body.substr(0, 4000));
    // The server goes away mid-transfer: no closing reply.
    server.add(Step::Drop);
    server.add(Step::DataClose);
    resumedDownload(body, 4000);
    // The cut was a failed transfer, not a refusal: the site was never taken for a ratio site.
    expectFailedThenResumed(body);
    EXPECT_TRUE(receivedLine("REST 4000"));
}

// A closing reply other than 226 after the data moved is a failed transfer, tried again, never the
// refusal of a ratio site: vsftpd's 522 for a TLS session it would not resume, a local error, a 550.
class ClosingReplyJobTest : public ScriptedJobTest, public ::testing::WithParamInterface<const char *>
{};

TEST_P(ClosingReplyJobTest, FailsTheTransferAndRetriesItWithoutRatioMode)
{
    const std::string body = patternBytes(6000, 14);
    login();
    enterDirectory("/d/");
    dataExchange("LIST f.bin", fileLine("f.bin", body.size()));
    server.reply("TYPE I", "200 binary");
    dataExchange("RETR f.bin", body.substr(0, 2500), GetParam());
    resumedDownload(body, 2500);
    expectFailedThenResumed(body);
    EXPECT_FALSE(notifier.sawLine("Permission denied"));
}

INSTANTIATE_TEST_SUITE_P(ClosingReplies, ClosingReplyJobTest,
    ::testing::Values("522 SSL connection failed: session reuse required", "451 Local error", "550 Failed"));

TEST_F(ScriptedJobTest, AnUnreadableWorkingDirectoryDoesNotStopAnAbsoluteDownload)
{
    login();
    server.reply("PWD", "257 ");
    server.reply("cwd /d/", "250 ok");
    dataExchange("LIST f.bin", fileLine("f.bin", 4));
    server.reply("TYPE I", "200 binary");
    dataExchange("RETR f.bin", "abcd");
    server.reply("QUIT", "221 bye");
    server.start();

    const auto id = queue.addItem(url("ftp", "/d/f.bin"), (local / "f.bin").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    expectCleanScript();
    EXPECT_EQ(readFile(local / "f.bin"), "abcd");
}

TEST_F(ScriptedJobTest, ARatioSiteWaitsForAnUploadThenRetriesTheDownload)
{
    const std::string body = patternBytes(3000, 12);
    writeFile(local / "up.bin", patternBytes(2000, 13));
    login();
    enterDirectory("/d/");
    dataExchange("LIST f.bin", fileLine("f.bin", body.size()));
    server.reply("TYPE I", "200 binary");
    server.expect("PASV");
    server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("RETR f.bin", "550 Upload first");
    // The same login now sends the upload, already in the folder and in binary type. The refusal has
    // been seen; hold so the test can look at the item in the meantime.
    server.expect("PASV");
    server.hold();
    server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("STOR up.bin", "150 send it");
    server.add(Step::DataAccept);
    server.add(Step::DataReceive);
    server.send("226 stored");
    // And retries the download.
    dataExchange("LIST f.bin", fileLine("f.bin", body.size()));
    dataExchange("RETR f.bin", body);
    server.reply("QUIT", "221 bye");
    server.start();

    const auto download = queue.addItem(url("ftp", "/d/f.bin"), (local / "f.bin").string());
    const auto upload = queue.addItem(url("ftpu", "/d/up.bin"), (local / "up.bin").string());
    const StatusTrail seen(notifier, queue, download);
    start();
    // The refusal shows while the job turns to the upload, which the server holds.
    ASSERT_TRUE(waitStatus(download, core::ItemStatus::StatusRatioNeedsUpload));
    EXPECT_EQ(core::statusText(core::snapshotOrVanished(queue, download).status),
        "Probable ratio site.  May need to upload.");
    EXPECT_TRUE(seen.saw(core::ItemStatus::StatusRatioActive));
    server.release();
    ASSERT_TRUE(waitStatus(upload, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitStatus(download, core::ItemStatus::StatusFinished));
    expectCleanScript();
    EXPECT_EQ(readFile(local / "f.bin"), body);
    EXPECT_EQ(server.dataReceived(), readFile(local / "up.bin"));
    EXPECT_EQ(notifier.count("USER u"), 1);
}

TEST_F(ScriptedJobTest, ARefusedDownloadWithNothingToUploadEndsRatioNeedsUpload)
{
    login();
    enterDirectory("/d/");
    dataExchange("LIST f.bin", fileLine("f.bin", 10));
    server.reply("TYPE I", "200 binary");
    server.expect("PASV");
    server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("RETR f.bin", "550 Upload first");
    server.reply("QUIT", "221 bye");
    server.start();

    // A long rest keeps the ended item from being tried again at once.
    const auto download = queue.addItem(url("ftp", "/d/f.bin"), (local / "f.bin").string(), 0, 3600);
    start();
    ASSERT_TRUE(waitStatus(download, core::ItemStatus::StatusRatioNeedsUpload));
    expectCleanScript();
    EXPECT_TRUE(notifier.sawLine("Permission denied"));
}

TEST_F(ScriptedJobTest, AnUploadOfAMissingLocalFileFailsWithoutSendingStor)
{
    login();
    enterDirectory("/d/");
    server.reply("QUIT", "221 bye");
    server.start();

    const auto id = queue.addItem(url("ftpu", "/d/up.bin"), (local / "missing.bin").string(), 0, 3600);
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusTransferFailed));
    ASSERT_TRUE(server.waitFinished());
    for (const std::string &line : server.received())
        EXPECT_FALSE(line.starts_with("STOR") || line.starts_with("TYPE")) << line;
    EXPECT_TRUE(notifier.sawLine("File open error"));
}

// A refused STOR is no sign of a ratio site (those refuse downloads): the upload fails as any transfer.
TEST_F(ScriptedJobTest, ARefusedUploadIsAFailedTransferNotARatioSite)
{
    writeFile(local / "up.bin", "data");
    login();
    enterDirectory("/d/");
    server.reply("TYPE I", "200 binary");
    server.expect("PASV");
    server.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.reply("STOR up.bin", "553 Not allowed");
    server.reply("QUIT", "221 bye");
    server.start();

    const auto id = queue.addItem(url("ftpu", "/d/up.bin"), (local / "up.bin").string(), 0, 3600);
    const StatusTrail seen(notifier, queue, id);
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusTransferFailed));
    expectCleanScript();
    EXPECT_FALSE(seen.saw(core::ItemStatus::StatusRatioActive));
}

// A local file as long as the listed one is complete, and a partial file longer than it is never
// resumed: REST would append the remote file's tail to it (or nothing at all) and end "Finished" with the
// wrong content.
TEST_F(ScriptedJobTest, ALocalFileNotShorterThanTheListedOneIsNotResumed)
{
    struct Case
    {
        const char *name;
        std::string localBytes;
        const char *suffix; // of the file holding them
        core::ItemStatus expected;
    };

    const Case cases[] = {
        {"equal length ends Finished", "abcd", "", core::ItemStatus::StatusFinished},
        {"longer partial file fails", "abcdef", ".part", core::ItemStatus::StatusTransferFailed},
    };
    bool started = false;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer caseServer;
        caseServer.send("220 scripted");
        caseServer.reply("USER u", "331 password");
        caseServer.reply("PASS p", "230 in");
        caseServer.reply("PWD", "257 \"/\" is the current directory");
        caseServer.reply("cwd /d/", "250 ok");
        caseServer.expect("PASV");
        caseServer.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        caseServer.reply("LIST f.bin", "150 here");
        caseServer.add(Step::DataAccept);
        caseServer.add(Step::DataSend, fileLine("f.bin", 4));
        caseServer.add(Step::DataClose);
        caseServer.send("226 done");
        caseServer.reply("QUIT", "221 bye");
        caseServer.start();

        const auto target = local / (std::string("f") + std::to_string(c.localBytes.size()) + ".bin");
        const auto file = target.string() + c.suffix;
        writeFile(file, c.localBytes);
        const std::string caseUrl = "ftp://u:p@127.0.0.1:" + std::to_string(caseServer.port()) + "/d/f.bin";
        const auto id = queue.addItem(caseUrl, target.string(), 0, 3600);
        if (!std::exchange(started, true))
            start();
        ASSERT_TRUE(waitStatus(id, c.expected));
        ASSERT_TRUE(caseServer.waitFinished());
        EXPECT_TRUE(caseServer.failures().empty()) << ::testing::PrintToString(caseServer.failures());
        EXPECT_EQ(readFile(file), c.localBytes);
    }
    EXPECT_TRUE(notifier.sawLine("Local file is already complete."));
}

TEST_F(ScriptedJobTest, ANameTheListingDoesNotShowEndsMissingTarget)
{
    login();
    enterDirectory("/d/");
    dataExchange("LIST gone.bin", "");
    server.reply("cwd gone.bin", "550 No such directory");
    server.reply("QUIT", "221 bye");
    server.start();

    const auto id = queue.addItem(url("ftp", "/d/gone.bin"), (local / "gone.bin").string(), 0, 3600);
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusMissingTarget));
    EXPECT_EQ(core::statusText(core::snapshotOrVanished(queue, id).status), "Missing target");
    expectCleanScript();
    EXPECT_FALSE(receivedLine("RETR gone.bin"));
    EXPECT_FALSE(std::filesystem::exists(local / "gone.bin"));
}

// A kept login serves the next item of its site only while it is still what that item would log in
// with: after the server ended it, or for another password, the second item logs in afresh (and a wrong
// password fails there, however well the first login works).
TEST_F(ScriptedJobTest, AConnectionTheServerDroppedIsNotReused)
{
    struct Case
    {
        const char *name;
        std::string goodbye; // sent with the closing reply of the first item's download
        std::string secondPassword;
        core::ItemStatus secondEnds;
    };

    const Case cases[] = {
        {"421 waiting", "421 Timeout.\r\n", "p", core::ItemStatus::StatusFinished},
        {"closed without a word", "", "p", core::ItemStatus::StatusFinished},
        {"another password", "", "wrong", core::ItemStatus::StatusInvalidPassword},
    };
    bool started = false;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer caseServer;
        // `goodbye` follows the closing reply of the RETR in the same write.
        const auto fileExchange = [&caseServer](
                                      const std::string &name, const std::string &body, std::string goodbye) {
            caseServer.reply("PWD", "257 \"/\" is the current directory");
            caseServer.reply("cwd /d/", "250 ok");
            for (const std::string &command : {"LIST " + name, "RETR " + name}) {
                if (command.starts_with("RETR"))
                    caseServer.reply("TYPE I", "200 binary");
                caseServer.expect("PASV");
                caseServer.add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
                caseServer.reply(command, "150 here");
                caseServer.add(Step::DataAccept);
                caseServer.add(
                    Step::DataSend, command.starts_with("LIST") ? fileLine(name, body.size()) : body);
                caseServer.add(Step::DataClose);
                caseServer.sendRaw("226 done\r\n" + (command.starts_with("RETR") ? goodbye : std::string()));
            }
        };
        caseServer.send("220 scripted");
        caseServer.reply("USER u", "331 password");
        caseServer.reply("PASS p", "230 in");
        fileExchange("a.bin", "abc", c.goodbye);
        const bool loginRefused = c.secondEnds == core::ItemStatus::StatusInvalidPassword;
        if (loginRefused)
            caseServer.reply("QUIT", "221 bye"); // the first login is left politely
        caseServer.drop();
        caseServer.add(Step::Accept);
        caseServer.send("220 scripted");
        caseServer.reply("USER u", "331 password");
        if (loginRefused) {
            caseServer.reply("PASS " + c.secondPassword, "530 Login incorrect.");
        } else {
            caseServer.reply("PASS p", "230 in");
            fileExchange("b.bin", "xyz", "");
            caseServer.reply("QUIT", "221 bye");
        }
        caseServer.start();

        const std::string site = "127.0.0.1:" + std::to_string(caseServer.port()) + "/d/";
        const auto first =
            queue.addItem("ftp://u:p@" + site + "a.bin", (local / c.name / "a.bin").string(), 0, 3600);
        const auto second = queue.addItem("ftp://u:" + c.secondPassword + "@" + site + "b.bin",
            (local / c.name / "b.bin").string(), 0, 3600);
        if (!std::exchange(started, true))
            start();
        ASSERT_TRUE(waitStatus(first, core::ItemStatus::StatusFinished));
        ASSERT_TRUE(waitStatus(second, c.secondEnds));
        ASSERT_TRUE(caseServer.waitFinished());
        EXPECT_TRUE(caseServer.failures().empty()) << ::testing::PrintToString(caseServer.failures());
        EXPECT_EQ(readFile(local / c.name / "a.bin"), "abc");
        if (loginRefused)
            EXPECT_FALSE(std::filesystem::exists(local / c.name / "b.bin"));
        else
            EXPECT_EQ(readFile(local / c.name / "b.bin"), "xyz");
    }
}

// A folder's children already know from its listing what they are: each file is fetched in the folder
// the connection is in, with the type set once, and without a listing of its own name; only a file
// listed without a size asks for it, and a listed folder is entered straight away.
TEST_F(ScriptedJobTest, ChildrenOfAListingGoStraightToTheirTransfer)
{
    const std::string listing = fileLine("a.bin", 4) + fileLine("empty.bin", 0)
        + "drwxr-xr-x    2 ftp      ftp      4096 Jan 01 12:00 inner\r\n";
    login();
    enterDirectory("/d/sub/");
    dataExchange("LIST", listing);
    server.reply("TYPE I", "200 binary");
    dataExchange("RETR a.bin", "abcd");
    server.reply("SIZE empty.bin", "213 0");
    dataExchange("RETR empty.bin", "");
    server.reply("cwd inner", "250 ok");
    dataExchange("LIST", "");
    server.reply("QUIT", "221 bye");
    server.start();

    const auto id = queue.addItem(url("ftp", "/d/sub/"), (local / "sub").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    expectCleanScript();
    ASSERT_TRUE(waitAllSettled());
    for (const auto itemId : queue.ids())
        EXPECT_EQ(core::snapshotOrVanished(queue, itemId).status, core::ItemStatus::StatusFinished) << itemId;
    EXPECT_EQ(readFile(local / "sub" / "a.bin"), "abcd");
    EXPECT_TRUE(std::filesystem::exists(local / "sub" / "empty.bin"));
    EXPECT_TRUE(std::filesystem::is_directory(local / "sub" / "inner"));
    EXPECT_EQ(notifier.count("File is a directory."), 1);
    EXPECT_EQ(notifier.count("Getting current directory..."), 1);
}

// A listed file whose size the server will not tell is looked up by name as before: a listing of the
// name, then the download.
TEST_F(ScriptedJobTest, AListedFileWithoutASizeTheServerWillNotTellIsListedByName)
{
    login();
    enterDirectory("/d/");
    dataExchange("LIST", fileLine("f.bin", 0));
    server.reply("SIZE f.bin", "502 not implemented");
    dataExchange("LIST f.bin", fileLine("f.bin", 0));
    server.reply("TYPE I", "200 binary");
    dataExchange("RETR f.bin", "xyz");
    server.reply("QUIT", "221 bye");
    server.start();

    const auto id = queue.addItem(url("ftp", "/d/"), (local / "d").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    expectCleanScript();
    ASSERT_TRUE(waitAllSettled());
    EXPECT_EQ(readFile(local / "d" / "f.bin"), "xyz");
}

TEST_F(ScriptedJobTest, ListedNamesThatAreNotOnePathComponentAreSkipped)
{
    const std::string listing = fileLine("../escape.txt", 5) + fileLine("a/b.txt", 5)
        + fileLine("back\\slash", 5) + "drwxr-xr-x    2 ftp      ftp      4096 Jan 01 12:00 ..\r\n"
        + "drwxr-xr-x    2 ftp      ftp      4096 Jan 01 12:00 .\r\n" + fileLine("good.txt", 5)
        + fileLine(std::string("x\0y", 3), 5) + fileLine("x", 5) + fileLine("tab\tname", 5);
    login();
    enterDirectory("/d/");
    dataExchange("LIST", listing);
    server.hold();
    server.start();

    const auto id = queue.addItem(url("ftp", "/d/"), (local / "dir").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    scheduler.stop();
    server.release();
    ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
    std::vector<std::string> children;
    for (const auto itemId : queue.ids()) {
        if (itemId != id)
            children.push_back(core::snapshotOrVanished(queue, itemId).url);
    }
    // "x<NUL>y" would be written as "x", the file of the next entry. (A child the stop caught keeps its
    // place, so the order says nothing.)
    std::sort(children.begin(), children.end());
    EXPECT_EQ(children, (std::vector<std::string>{url("ftp", "/d/good.txt"), url("ftp", "/d/x")}));
    EXPECT_TRUE(notifier.sawLine("Skipping the unsafe name \"../escape.txt\""));
    EXPECT_TRUE(notifier.sawLine("Skipping the unsafe name \"a/b.txt\""));
    EXPECT_TRUE(notifier.sawLine("Skipping the unsafe name \"back\\slash\""));
    EXPECT_TRUE(notifier.sawLine("Skipping the unsafe name \"x?y\""));
    EXPECT_TRUE(notifier.sawLine("Skipping the unsafe name \"tab?name\""));
    EXPECT_FALSE(std::filesystem::exists(local / "escape.txt"));
}

// A link back into its own folder: the server's PWD inside the link names the folder already fetched,
// so the link is not expanded again, and the tree ends.
TEST_F(ScriptedJobTest, ALinkBackIntoItsFolderIsNotExpandedAgain)
{
    const std::string listing = fileLine("f.bin", 4) + linkLine("link", ".");
    login();
    enterDirectory("/d/");
    dataExchange("LIST", listing);
    server.reply("TYPE I", "200 binary");
    dataExchange("RETR f.bin", "abcd");
    dataExchange("LIST link", listing);
    server.reply("cwd link", "250 ok");
    server.reply("PWD", "257 \"/d\" is the current directory");
    server.reply("QUIT", "221 bye");
    server.start();

    const auto id = queue.addItem(url("ftp", "/d/"), (local / "d").string());
    start();
    ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
    ASSERT_TRUE(waitAllSettled());
    expectCleanScript();
    EXPECT_EQ(queue.ids().size(), 3u);
    for (const auto itemId : queue.ids())
        EXPECT_EQ(core::snapshotOrVanished(queue, itemId).status, core::ItemStatus::StatusFinished) << itemId;
    EXPECT_EQ(readFile(local / "d" / "f.bin"), "abcd");
    EXPECT_TRUE(notifier.sawLine(
        "Skipping the folder /d: it was fetched already in this tree (a link leads back into it)"));
}

// The window closes while an active-mode server has answered 150 and then says nothing more, never
// connecting: the job stops at once instead of waiting out the accept and the server's goodbye.
TEST_F(ScriptedJobTest, AStopEndsTheWaitForASilentActiveModeServer)
{
    test::setQueueDefault(queue, &core::QueueDefaults::passive, false);
    login();
    enterDirectory("/d/");
    server.expect("").send("200 PORT ok");
    server.reply("LIST f.bin", "150 here").hold();
    server.start();

    queue.addItem(url("ftp", "/d/f.bin"), (local / "f.bin").string());
    start();
    ASSERT_TRUE(waitUntil([&] { return receivedLine("LIST f.bin"); }));
    const auto stopping = std::chrono::steady_clock::now();
    scheduler.stop();
    const bool stopped = scheduler.waitUntilStoppedFor(20000);
    server.release();
    ASSERT_TRUE(stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(3));
}

} // namespace
} // namespace bw::test
