// SPDX-License-Identifier: MIT
// Downloads against a scripted FTP server never change a file the user has: a listed name that is
// taken locally follows the "if the file exists" rule, a symbolic link where the partial file goes is
// never followed, and only the item's own partial file is resumed.
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "support/ftp_script.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace bw::test {
namespace {

namespace fs = std::filesystem;
using Step = ScriptedServer::Step;
using engine::IfFileExists;

class PartFileJobTest : public EngineTest
{
protected:
    PartFileJobTest()
    {
        test::setQueueDefault(queue, &core::QueueDefaults::passive, true);
        scheduler.setMaxThreads(1);
    }

    std::string url(const std::string &path) const
    {
        return "ftp://u:p@127.0.0.1:" + std::to_string(server->port()) + path;
    }

    void setRule(IfFileExists rule)
    {
        engine::Settings settings = transferEngine.currentSettings();
        settings.ifFileExists = rule;
        transferEngine.applySettings(settings);
    }

    // A server for the next case: the jobs log in afresh, so each case plays its whole script.
    void newServer() { server = std::make_unique<ScriptedServer>(); }

    // Starts the scheduler for the first case only; later cases find it running.
    void startOnce()
    {
        if (!std::exchange(m_started, true))
            start();
    }

    // Login, the folder, and LIST (of `listed`, or of the folder itself when empty) answered `listing`.
    void listFolder(const std::string &listed, const std::string &listing)
    {
        server->send("220 scripted");
        server->reply("USER u", "331 password");
        server->reply("PASS p", "230 in");
        server->reply("PWD", "257 \"/\" is the current directory");
        server->reply("cwd /d/", "250 ok");
        dataExchange(listed.empty() ? "LIST" : "LIST " + listed, listing);
    }

    void dataExchange(const std::string &command, const std::string &data)
    {
        server->expect("PASV");
        server->add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server->reply(command, "150 here");
        server->add(Step::DataAccept);
        server->add(Step::DataSend, data);
        server->add(Step::DataClose);
        server->send("226 done");
    }

    bool received(const std::string &prefix) const
    {
        for (const std::string &line : server->received()) {
            if (line.starts_with(prefix))
                return true;
        }
        return false;
    }

    void expectCleanScript()
    {
        ASSERT_TRUE(server->waitFinished());
        EXPECT_TRUE(server->failures().empty()) << ::testing::PrintToString(server->failures());
    }

    std::unique_ptr<ScriptedServer> server;
    TempDir local;

private:
    bool m_started = false;
};

// A server lists ".bashrc" into a folder where the user has one: without Overwrite its bytes stay.
TEST_F(PartFileJobTest, AListedNameTheUserHasFollowsTheRule)
{
    struct Case
    {
        const char *name;
        IfFileExists rule;
        bool fetched; // the server is asked for the file
        const char *bashrc; // the user's file afterwards
        bool numbered; // ".bashrc (1)" holds the server's bytes
    };

    const Case cases[] = {
        {"rename", IfFileExists::Rename, true, "mine\n", true},
        {"overwrite", IfFileExists::Overwrite, true, "EVIL!!\n", false},
        {"skip", IfFileExists::Skip, false, "mine\n", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path home = local / c.name;
        fs::create_directories(home);
        writeFile(home / ".bashrc", "mine\n");
        // Another name for the user's file: Overwrite replaces the name, it never writes into the file.
        fs::create_hard_link(home / ".bashrc", local / (std::string(c.name) + "-link"));
        setRule(c.rule);
        newServer();
        listFolder("", fileLine(".bashrc", 7));
        if (c.fetched) {
            server->reply("TYPE I", "200 binary");
            dataExchange("RETR .bashrc", "EVIL!!\n");
        }
        server->reply("QUIT", "221 bye");
        server->start();

        const auto id = queue.addItem(url("/d/"), home.string());
        start();
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
        ASSERT_TRUE(waitAllSettled());
        scheduler.stop();
        ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
        expectCleanScript();
        for (const auto itemId : queue.ids())
            EXPECT_EQ(core::snapshotOrVanished(queue, itemId).status, core::ItemStatus::StatusFinished);
        EXPECT_EQ(received("RETR"), c.fetched);
        EXPECT_EQ(readFile(home / ".bashrc"), c.bashrc);
        EXPECT_EQ(readFile(local / (std::string(c.name) + "-link")), "mine\n");
        EXPECT_EQ(fs::exists(home / ".bashrc (1)"), c.numbered);
        if (c.numbered) {
            EXPECT_EQ(readFile(home / ".bashrc (1)"), "EVIL!!\n");
        }
        EXPECT_FALSE(fs::exists(home / ".bashrc.part"));
    }
    EXPECT_TRUE(
        notifier.sawLine("Local file " + (local / "skip" / ".bashrc").string() + " exists; skipped."));
}

// A symbolic link where the partial file goes is never written through, dangling or not.
TEST_F(PartFileJobTest, ALinkInPlaceOfThePartialFileIsNotFollowed)
{
    struct Case
    {
        const char *name;
        bool targetExists;
    };

    const Case cases[] = {{"link to a file", true}, {"dangling link", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = local / c.name;
        fs::create_directories(folder);
        const fs::path target = folder / "precious.txt";
        if (c.targetExists)
            writeFile(target, "keep");
        fs::create_symlink(target, folder / "f.bin.part");
        newServer();
        listFolder("f.bin", fileLine("f.bin", 6));
        server->reply("QUIT", "221 bye");
        server->start();

        const auto id = queue.addItem(url("/d/f.bin"), (folder / "f.bin").string(), 0, 3600);
        start();
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusTransferFailed));
        // The item says why, as for a folder it cannot write to ("Cannot create the partial file ...").
        EXPECT_NE(
            core::snapshotOrVanished(queue, id).statusDetail.find("is no regular file"), std::string::npos);
        scheduler.stop();
        ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
        expectCleanScript();
        EXPECT_FALSE(received("RETR"));
        EXPECT_EQ(fs::exists(target), c.targetExists);
        if (c.targetExists) {
            EXPECT_EQ(readFile(target), "keep");
        }
        EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "f.bin")));
    }
}

// A partial file at the bare name is resumed only for an item whose own record says it was started
// (a queue from a version that wrote there); any other file of that name is someone else's.
TEST_F(PartFileJobTest, OnlyAStartedItemResumesItsPartialFileAtTheBareName)
{
    const std::string body = patternBytes(10, 3);

    struct Case
    {
        const char *name;
        bool started;
        const char *bareNameFile; // the file with the bare name afterwards ...
        const char *fullFile; // ... and the one that holds the whole body
    };

    const Case cases[] = {
        {"started", true, "f.bin", "f.bin"},
        {"never started", false, "f.bin", "f (1).bin"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = local / c.name;
        fs::create_directories(folder);
        writeFile(folder / "f.bin", body.substr(0, 4));
        newServer();
        listFolder("f.bin", fileLine("f.bin", body.size()));
        server->reply("TYPE I", "200 binary");
        server->expect("PASV");
        server->add(Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        if (c.started)
            server->reply("REST 4", "350 restarting");
        server->reply("RETR f.bin", "150 here");
        server->add(Step::DataAccept);
        server->add(Step::DataSend, c.started ? body.substr(4) : body);
        server->add(Step::DataClose);
        server->send("226 done");
        server->reply("QUIT", "221 bye");
        server->start();

        const auto id = queue.addItem(url("/d/f.bin"), (folder / "f.bin").string(), 0, 3600);
        if (c.started) {
            queue.transferStarted(id);
            queue.transferEnded(id);
            queue.setStatus(id, core::ItemStatus::StatusIdle);
        }
        start();
        ASSERT_TRUE(waitStatus(id, core::ItemStatus::StatusFinished));
        scheduler.stop();
        ASSERT_TRUE(scheduler.waitUntilStoppedFor(20000));
        expectCleanScript();
        EXPECT_EQ(readFile(folder / c.fullFile), body);
        if (std::string(c.fullFile) != c.bareNameFile) {
            EXPECT_EQ(readFile(folder / c.bareNameFile), body.substr(0, 4));
        }
        EXPECT_FALSE(fs::exists(folder / "f.bin.part"));
    }
}

} // namespace
} // namespace bw::test
