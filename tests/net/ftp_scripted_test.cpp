// SPDX-License-Identifier: MIT
// Exact reply sequences from a scripted server: login, commands, PASV and PORT, REST, closing replies,
// stalls and time-outs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "net/ftp_connection.h"
#include "support/ftp_script.h"
#include "support/protocol_recorder.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace bw::net {
namespace {

// The scripted server, its script pieces and the test folders.
using namespace bw::test;
using Recorder = ProtocolRecorder;
using Lines = std::vector<std::string>;

// A download of "file.bin" on a thread of its own, as a worker runs one while another thread stops it or
// its clock moves on.
class DownloadThread
{
public:
    DownloadThread(FtpConnection &ftp, bool passive, std::int64_t size)
        : m_ftp(ftp)
        , m_thread([this, passive, size] {
            m_ok = m_ftp.download((m_dir / "file.bin").string(), "file.bin", true, passive, size, false);
            m_done = true;
        })
    {}

    // A test that ends early stops the download rather than wait for a server that holds.
    ~DownloadThread()
    {
        if (m_thread.joinable()) {
            m_ftp.abort(StopByEngine);
            m_thread.join();
        }
    }

    // Waits up to `limit` for the download to end (true when it did), then joins its thread.
    bool ends(std::chrono::milliseconds limit)
    {
        const bool ended = waitUntil([this] { return m_done.load(); }, limit);
        m_thread.join();
        return ended;
    }

    // After ends().
    bool succeeded() const { return m_ok; }

private:
    FtpConnection &m_ftp;
    TempDir m_dir;
    std::atomic<bool> m_done{false};
    bool m_ok = true; // written by the thread before m_done
    std::thread m_thread; // last: it uses everything above
};

class FtpScripted : public ::testing::Test
{
protected:
    // Starts the server and logs in (expecting success unless told otherwise).
    bool logIn(bool expectSuccess = true)
    {
        server.start();
        EXPECT_TRUE(ftp.createAndBind(0));
        const bool ok = ftp.login(scriptedSite(server, 7));
        if (expectSuccess) {
            EXPECT_TRUE(ok) << ftp.error().text();
        }
        return ok;
    }

    ScriptedServer server;
    FtpConnection ftp;
};

TEST_F(FtpScripted, GreetingDecidesTheLogin)
{
    struct Case
    {
        const char *greeting;
        std::int32_t error;
    };

    for (const Case c : {Case{"120 Wait a moment", ServerNotReady}, Case{"421 Going down", ServerShutdown},
             Case{"500 What", UnexpectedResponse}}) {
        ScriptedServer refusing;
        refusing.send(c.greeting).drop();
        refusing.start();
        FtpConnection connection;
        ASSERT_TRUE(connection.createAndBind(0));
        EXPECT_FALSE(connection.login(scriptedSite(refusing, 7))) << c.greeting;
        EXPECT_TRUE(connection.error().is(CatProtocol, c.error)) << c.greeting;
        // Never logged in: leaving sends nothing.
        connection.disconnect(15);
        connection.close();
        EXPECT_TRUE(refusing.waitFinished());
        EXPECT_TRUE(refusing.received().empty()) << c.greeting;
    }
}

TEST_F(FtpScripted, UserAnswered230NeedsNoPassword)
{
    server.send("220-Welcome\r\n220-to the\r\n220 server")
        .reply("USER u", "230 Come in")
        .reply("QUIT", "221 Bye");
    logIn();
    EXPECT_EQ(ftp.ftpState(), FtpState::Idle);
    EXPECT_TRUE(ftp.quit());
    EXPECT_EQ(ftp.ftpState(), FtpState::Closed);
    EXPECT_TRUE(server.waitFinished());
    EXPECT_EQ(server.received(), (Lines{"USER u", "QUIT"}));
    EXPECT_TRUE(server.failures().empty());
}

TEST_F(FtpScripted, RefusedUserOrPassword)
{
    struct Case
    {
        const char *userReply;
        const char *passReply;
        std::int32_t error;
    };

    for (const Case c :
        {Case{"530 No", nullptr, UsernameInvalid}, Case{"331 Pass", "530 Wrong", PasswordInvalid}}) {
        ScriptedServer refusing;
        refusing.send("220 Hi").reply("USER u", c.userReply);
        if (c.passReply)
            refusing.reply("PASS p", c.passReply);
        refusing.start();
        FtpConnection connection;
        ASSERT_TRUE(connection.createAndBind(0));
        EXPECT_FALSE(connection.login(scriptedSite(refusing, 7)));
        EXPECT_TRUE(connection.error().is(CatProtocol, c.error)) << c.userReply;
    }
}

TEST_F(FtpScripted, ConnectFailureIsReported)
{
    const int port = server.port();
    FtpConnection connection;
    ASSERT_TRUE(connection.createAndBind(0));
    // A bound port that never listens refuses the connection.
    SocketConnection probe;
    std::string address;
    int freePort = 0;
    ASSERT_TRUE(probe.createAndBind(0));
    ASSERT_TRUE(probe.localAddress(address, freePort));
    EXPECT_NE(freePort, port);
    EXPECT_FALSE(connection.login(FtpSite{"127.0.0.1", freePort, "u", "p", 1}));
    EXPECT_TRUE(connection.error().is(CatProtocol, ConnectFailed));
}

TEST_F(FtpScripted, WorkingDirectoryIsReadLeniently)
{
    struct Case
    {
        const char *reply;
        const char *path; // nullptr: unreadable
    };

    const Case cases[] = {
        {"257 \"/pub/dir\" is current", "/pub/dir"},
        {"257 /home/x is current", "/home/x"},
        {"257 is current: /srv/ftp", "/srv/ftp"},
        {"257 C:\\data", "C:\\data"},
        {"257 ", nullptr},
        {"257 is your current location", nullptr},
    };
    greetAndLogIn(server);
    for (const Case &c : cases)
        server.reply("PWD", c.reply);
    logIn();
    for (const Case &c : cases) {
        std::string path = "unchanged";
        EXPECT_EQ(ftp.printWorkingDirectory(path), c.path != nullptr) << c.reply;
        if (c.path) {
            EXPECT_EQ(path, c.path) << c.reply;
        } else {
            EXPECT_TRUE(ftp.error().is(CatProtocol, MalformedResponse)) << c.reply;
            EXPECT_STREQ(ftp.error().text(), "Malformed response");
        }
    }
}

TEST_F(FtpScripted, AbsolutePathIsRetriedRelative)
{
    greetAndLogIn(server);
    server.reply("cwd /x", "550 No such directory").reply("cwd x", "250 OK");
    server.reply("cwd /y", "550 No").reply("cwd y", "550 Still no");
    server.reply("cwd /", "250 OK");
    logIn();
    EXPECT_TRUE(ftp.changeDirectory("  /x "));
    EXPECT_FALSE(ftp.changeDirectory("/y"));
    EXPECT_TRUE(ftp.error().is(CatProtocol, UnexpectedResponse));
    EXPECT_TRUE(ftp.changeDirectory(""));
    EXPECT_TRUE(bw::test::waitUntil([&] { return server.received().size() == 7; }));
    EXPECT_EQ(server.received(), (Lines{"USER u", "PASS p", "cwd /x", "cwd x", "cwd /y", "cwd y", "cwd /"}));
}

TEST_F(FtpScripted, SimpleCommandsAndTheirSuccessCodes)
{
    greetAndLogIn(server);
    server.script({
        {"mkd d", "257 created"},
        {"mkd e", "550 exists"},
        {"rmd d", "250 gone"},
        {"dele f", "550 no"},
        {"rnfr a", "350 ready"},
        {"rnto b", "250 renamed"},
        {"rnfr c", "550 missing"},
    });
    logIn();
    EXPECT_TRUE(ftp.makeDirectory("d"));
    EXPECT_FALSE(ftp.makeDirectory("e"));
    EXPECT_TRUE(ftp.error().is(CatProtocol, PermissionDenied));
    EXPECT_TRUE(ftp.removeDirectory("d"));
    EXPECT_FALSE(ftp.deleteFile("f"));
    EXPECT_TRUE(ftp.rename("a", "b"));
    EXPECT_FALSE(ftp.rename("c", "never"));
    EXPECT_TRUE(server.waitFinished());
    EXPECT_TRUE(server.failures().empty()) << server.failures().front();
}

TEST_F(FtpScripted, ObserverSeesCommandsAndReplyLines)
{
    Recorder recorder;
    ftp.setObserver(&Recorder::observe, &recorder);
    server.send("220-Hi\r\n220 Ready").reply("USER u", "230 In");
    logIn();
    // The address connected to comes first, as a status line.
    ASSERT_EQ(recorder.seen.size(), 5u);
    EXPECT_EQ(recorder.seen[0].kind, NotifyStatus);
    EXPECT_EQ(recorder.seen[0].text, "Connected to 127.0.0.1 port " + std::to_string(server.port()));
    EXPECT_EQ(recorder.seen[1].kind, NotifyReplyReceived);
    EXPECT_EQ(recorder.seen[1].text, "220-Hi");
    EXPECT_EQ(recorder.seen[2].text, "220 Ready");
    EXPECT_EQ(recorder.seen[3].kind, NotifyCommandSent);
    EXPECT_EQ(recorder.seen[3].text, "USER u");
    EXPECT_EQ(recorder.seen[4].text, "230 In");
}

TEST_F(FtpScripted, PassiveReplyWithAndWithoutParenthesis)
{
    greetAndLogIn(server);
    server.add(ScriptedServer::Step::Expect, "PASV")
        .add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.add(ScriptedServer::Step::DataAccept).add(ScriptedServer::Step::DataClose);
    server.add(ScriptedServer::Step::Expect, "PASV")
        .add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode {pasv})");
    server.add(ScriptedServer::Step::DataAccept).add(ScriptedServer::Step::DataClose);
    server.add(ScriptedServer::Step::Expect, "PASV")
        .add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode 127,0,0,1,{port}");
    server.add(ScriptedServer::Step::DataAccept).add(ScriptedServer::Step::DataClose);
    server.add(ScriptedServer::Step::Expect, "PASV")
        .add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode (127,0,0,1,{port}");
    server.add(ScriptedServer::Step::DataAccept).add(ScriptedServer::Step::DataClose);
    server.reply("PASV", "227 Entering Passive Mode");
    server.reply("PASV", "227 Entering Passive Mode (127,0,0,1,4,300)");
    server.reply("PASV", "425 No");
    logIn();
    // With parentheses, without "(", bare at the end, without ")": the six numbers are found.
    for (int round = 0; round < 4; ++round) {
        EXPECT_TRUE(ftp.enterPassive()) << round;
        EXPECT_EQ(ftp.pasvHost(), "127.0.0.1");
        EXPECT_TRUE(bw::test::waitUntil([&] { return server.dataPort() != 0; }));
        EXPECT_EQ(ftp.pasvPort(), server.dataPort());
        EXPECT_TRUE(ftp.dataConnection().close());
    }
    // No numbers, or a number past 255.
    EXPECT_FALSE(ftp.enterPassive());
    EXPECT_TRUE(ftp.error().is(CatProtocol, MalformedResponse));
    EXPECT_FALSE(ftp.enterPassive());
    EXPECT_TRUE(ftp.error().is(CatProtocol, MalformedResponse));
    EXPECT_FALSE(ftp.enterPassive());
    EXPECT_TRUE(ftp.error().is(CatProtocol, UnexpectedResponse));
}

TEST_F(FtpScripted, PassiveNumbersGiveHostAndPort)
{
    // Nothing listens on 127.0.0.1:1025 here, so the connection fails, but the numbers are read.
    greetAndLogIn(server);
    server.reply("TYPE I", "200 OK").reply("PASV", "227 Entering Passive Mode (127,0,0,1,4,1)");
    logIn();
    TempDir dir;
    EXPECT_FALSE(ftp.download((dir / "f").string(), "f", true, true, 0, false));
    EXPECT_EQ(ftp.pasvHost(), "127.0.0.1");
    EXPECT_EQ(ftp.pasvPort(), 1025);
    EXPECT_TRUE(ftp.error().is(CatProtocol, DataConnectionFailed));
    EXPECT_EQ(ftp.ftpState(), FtpState::Idle);
}

TEST_F(FtpScripted, PassiveAddressOtherThanTheServerIsNotTrusted)
{
    greetAndLogIn(server);
    server.reply("TYPE I", "200 OK");
    server.expect("PASV").add(
        ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode (10,9,8,7,{port})");
    server.expect("RETR f").add(ScriptedServer::Step::DataAccept).send("150 Opening");
    server.add(ScriptedServer::Step::DataSend, "data").add(ScriptedServer::Step::DataClose).send("226 Done");
    logIn();
    Recorder recorder;
    ftp.setObserver(&Recorder::observe, &recorder);
    TempDir dir;
    EXPECT_TRUE(ftp.download((dir / "f").string(), "f", true, true, 0, false)) << ftp.error().text();
    EXPECT_EQ(ftp.pasvHost(), "10.9.8.7");
    EXPECT_EQ(bw::test::readFile(dir / "f"), "data");
    ASSERT_EQ(recorder.count(NotifyStatus), 1);
    const auto status = std::find_if(
        recorder.seen.begin(), recorder.seen.end(), [](const auto &n) { return n.kind == NotifyStatus; });
    EXPECT_EQ(status->text,
        "PASV address 10.9.8.7 differs from the server's 127.0.0.1: connecting to 127.0.0.1 port "
            + std::to_string(server.dataPort()));
}

TEST_F(FtpScripted, PreliminaryGreetingWaitsForTheReadyReply)
{
    server.send("120 Service ready in 2 seconds").hold().send("220 Ready");
    server.reply("USER u", "331 Password please").reply("PASS p", "230 Logged in");
    server.start();
    ASSERT_TRUE(ftp.createAndBind(0));
    server.release();
    EXPECT_TRUE(ftp.login(scriptedSite(server, 7))) << ftp.error().text();
    EXPECT_EQ(ftp.ftpState(), FtpState::Idle);
}

TEST_F(FtpScripted, MultiLineGreetingWithAnInnerCodeLine)
{
    server.send("220-Welcome\r\n100 users at most\r\n220 Ready");
    server.reply("USER u", "331 Password please").reply("PASS p", "230 Logged in").reply("NOOP", "200 OK");
    logIn();
    ftp.sendCommand("NOOP\r\n");
    EXPECT_EQ(ftp.readReply(), 200);
    EXPECT_TRUE(server.waitFinished());
    EXPECT_TRUE(server.failures().empty());
}

TEST_F(FtpScripted, PassiveReplyWithoutClosingParenthesisFailsTheTransfer)
{
    greetAndLogIn(server);
    server.reply("TYPE I", "200 OK").reply("PASV", "227 Entering Passive Mode (127,0,0,1,4,1");
    logIn();
    TempDir dir;
    EXPECT_FALSE(ftp.download((dir / "f").string(), "f", true, true, 0, false));
    EXPECT_STREQ(ftp.error().text(), "Data connection failed");
}

// Plays a passive download of `body` with the given REST answer (empty: no REST expected).
void playPassiveDownload(ScriptedServer &server, const std::string &rest, const std::string &restReply,
    const std::string &body, const std::string &closing)
{
    server.reply("TYPE I", "200 Binary");
    server.expect("PASV").add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    if (!rest.empty())
        server.reply(rest, restReply);
    server.expect("RETR file.bin").add(ScriptedServer::Step::DataAccept).send("150 Opening");
    server.add(ScriptedServer::Step::DataSend, body).add(ScriptedServer::Step::DataClose).send(closing);
}

TEST_F(FtpScripted, RestAnswersDecideAppendOrRewrite)
{
    struct Case
    {
        const char *name;
        std::string local;
        bool resume;
        std::string rest;
        std::string restReply;
        std::string body;
        std::string result;
    };

    const Case cases[] = {
        {"350 appends", "0123", true, "REST 4", "350 Restarting", "456789", "0123456789"},
        {"502 rewrites from the start", "0123", true, "REST 4", "502 No", "0123456789", "0123456789"},
        {"empty local file sends no REST", "", true, "", "", "abc", "abc"},
        {"resume off rewrites", "zzzz", false, "", "", "abc", "abc"},
    };
    for (const Case &c : cases) {
        TempDir dir;
        const auto local = dir / "file.bin";
        bw::test::writeFile(local, c.local);
        ScriptedServer scripted;
        greetAndLogIn(scripted);
        playPassiveDownload(scripted, c.rest, c.restReply, c.body, "226 Done");
        scripted.start();
        FtpConnection connection;
        ASSERT_TRUE(connection.createAndBind(0));
        ASSERT_TRUE(connection.login(scriptedSite(scripted, 7)));
        EXPECT_TRUE(connection.download(local.string(), "file.bin", true, true, 10, c.resume)) << c.name;
        EXPECT_EQ(bw::test::readFile(local), c.result) << c.name;
        EXPECT_TRUE(scripted.waitFinished()) << c.name;
        EXPECT_TRUE(scripted.failures().empty()) << c.name << ": " << scripted.failures().front();
    }
}

// The data moved and the server ended with a failure: a failed transfer (tried again later), never the
// "Permission denied" of a refused command, which a ratio site gives.
TEST_F(FtpScripted, ClosingReply451FailsTheDownload)
{
    greetAndLogIn(server);
    playPassiveDownload(server, "", "", "data", "451 Local error");
    server.reply("NOOP", "200 Still here");
    logIn();
    TempDir dir;
    EXPECT_FALSE(ftp.download((dir / "file.bin").string(), "file.bin", true, true, 4, false));
    EXPECT_TRUE(ftp.error().is(CatProtocol, UnexpectedResponse));
    EXPECT_EQ(ftp.ftpState(), FtpState::Idle);
    // The control connection stays in step: the next command gets its own reply.
    ftp.sendCommand("NOOP\r\n");
    EXPECT_EQ(ftp.readReply(), 200);
}

// A symbolic link where the local file goes could point at any file of the user's: never written through.
TEST_F(FtpScripted, ADownloadNeverWritesThroughASymbolicLink)
{
    greetAndLogIn(server);
    playPassiveDownload(server, "", "", "data", "226 Done");
    logIn();
    TempDir dir;
    bw::test::writeFile(dir / "precious", "keep");
    std::filesystem::create_symlink(dir / "precious", dir / "file.bin");
    EXPECT_FALSE(ftp.download((dir / "file.bin").string(), "file.bin", true, true, 4, false));
    EXPECT_TRUE(ftp.error().is(CatLocal, FileWriteError)) << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(dir / "precious"), "keep");
}

// A refused RETR is "Permission denied", except vsftpd's 522 when the data connection did not resume the
// TLS session: the data connection failed there, the file was not refused.
TEST(FtpRetrRefusal, RefusedRetrIsPermissionDeniedAndA522ATlsFailure)
{
    const struct
    {
        const char *reply;
        std::int32_t error;
    } cases[] = {{"550 No such file", PermissionDenied},
        {"522 SSL connection failed: session reuse required", TlsFailed}};

    for (const auto &c : cases) {
        ScriptedServer server;
        greetAndLogIn(server);
        server.reply("TYPE A", "200 Ascii");
        server.expect("PASV").add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.reply("RETR file.bin", c.reply);
        server.start();
        FtpConnection ftp;
        ASSERT_TRUE(ftp.createAndBind(0));
        ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));
        TempDir dir;
        EXPECT_FALSE(ftp.download((dir / "file.bin").string(), "file.bin", false, true, 0, false)) << c.reply;
        EXPECT_TRUE(ftp.error().is(CatProtocol, c.error)) << c.reply;
        EXPECT_FALSE(ftp.dataConnection().hasSocket()) << c.reply;
    }
}

// With a stranger too: another host connects to the PORT address first (127.0.0.2 reaches loopback too);
// the client closes that connection and takes the server's, so no stranger's bytes become the file.
TEST(FtpActive, DownloadSendsPortAndAcceptsOnlyTheServer)
{
    for (const bool stranger : {false, true}) {
        ScriptedServer server;
        greetAndLogIn(server);
        server.reply("TYPE I", "200 Binary");
        server.expect("").send("200 PORT ok");
        server.expect("RETR file.bin");
        if (stranger)
            server.add(ScriptedServer::Step::DataConnect, "127.0.0.2")
                .add(ScriptedServer::Step::DataSend, "foreign bytes");
        server.add(ScriptedServer::Step::DataConnect).send("150 Opening");
        server.add(ScriptedServer::Step::DataSend, "active bytes")
            .add(ScriptedServer::Step::DataClose)
            .send("226 Done");
        server.start();
        FtpConnection ftp;
        ASSERT_TRUE(ftp.createAndBind(0));
        ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));
        TempDir dir;
        EXPECT_TRUE(ftp.download((dir / "file.bin").string(), "file.bin", true, false, 12, false))
            << stranger;
        EXPECT_EQ(bw::test::readFile(dir / "file.bin"), "active bytes") << stranger;
        const Lines sent = server.received();
        ASSERT_GE(sent.size(), 4u);
        EXPECT_TRUE(std::regex_match(sent[3], std::regex("PORT 127,0,0,1,[0-9]+,[0-9]+"))) << sent[3];
        EXPECT_FALSE(ftp.listenerConnection().hasSocket());
        EXPECT_TRUE(server.waitFinished());
        EXPECT_TRUE(server.failures().empty()) << server.failures().front();
    }
}

TEST_F(FtpScripted, PortGoesOutWithItsTransferCommandAndTheLogKeepsTheOrder)
{
    // The server answers the PORT only once the RETR is in: a client that waited for the PORT reply
    // first would wait for ever (here: the time-out).
    greetAndLogIn(server);
    server.reply("TYPE I", "200 Binary");
    server.expect("").expect("RETR file.bin").send("200 PORT ok");
    server.add(ScriptedServer::Step::DataConnect).send("150 Opening");
    server.add(ScriptedServer::Step::DataSend, "pipelined")
        .add(ScriptedServer::Step::DataClose)
        .send("226 Done");
    Recorder recorder;
    ftp.setObserver(&Recorder::observe, &recorder);
    ftp.setTimeout(10);
    logIn();
    TempDir dir;
    ASSERT_TRUE(ftp.download((dir / "file.bin").string(), "file.bin", true, false, 9, false))
        << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(dir / "file.bin"), "pipelined");
    Lines protocol;
    for (const ConnectionNotification &seen : recorder.seen) {
        if (seen.kind == NotifyCommandSent || seen.kind == NotifyReplyReceived)
            protocol.push_back(seen.text.substr(0, 4));
    }
    const Lines expected{"TYPE", "200 ", "PORT", "200 ", "RETR", "150 ", "226 "};
    ASSERT_GE(protocol.size(), expected.size());
    EXPECT_EQ(Lines(protocol.end() - static_cast<std::ptrdiff_t>(expected.size()), protocol.end()), expected);
}

TEST_F(FtpScripted, RefusedPortFailsTheDataConnectionAndKeepsTheRepliesInStep)
{
    // Both commands were sent together: the refusal of the RETR that follows is read too, and the
    // failure is the data connection's (not a refused download, which would mean a ratio site).
    struct Case
    {
        const char *name;
        Lines afterPort; // the server's answer to the RETR that came with the refused PORT
    };

    for (const Case &c : {Case{"refusal", {"425 Use PORT or PASV first"}},
             Case{"preliminary, then refusal", {"150 Opening", "425 No data connection"}}}) {
        ScriptedServer scripted;
        greetAndLogIn(scripted);
        scripted.reply("TYPE I", "200 Binary");
        scripted.expect("").expect("RETR file.bin").send("501 Bad PORT");
        for (const std::string &line : c.afterPort)
            scripted.send(line);
        scripted.reply("NOOP", "200 Still here");
        scripted.start();
        FtpConnection connection;
        ASSERT_TRUE(connection.createAndBind(0));
        ASSERT_TRUE(connection.login(scriptedSite(scripted, 7)));
        TempDir dir;
        EXPECT_FALSE(connection.download((dir / "file.bin").string(), "file.bin", true, false, 9, false));
        EXPECT_TRUE(connection.error().is(CatProtocol, DataConnectionFailed)) << c.name;
        EXPECT_FALSE(connection.listenerConnection().hasSocket()) << c.name;
        connection.sendCommand("NOOP\r\n");
        EXPECT_EQ(connection.readReply(), 200) << c.name;
        EXPECT_TRUE(scripted.waitFinished()) << c.name;
    }
}

TEST_F(FtpScripted, ResumedActiveDownloadSendsPortBeforeRest)
{
    TempDir dir;
    bw::test::writeFile(dir / "file.bin", "abc");
    greetAndLogIn(server);
    server.reply("TYPE I", "200 Binary");
    server.expect("").send("200 PORT ok");
    server.reply("REST 3", "350 Restarting");
    server.expect("RETR file.bin").add(ScriptedServer::Step::DataConnect).send("150 Opening");
    server.add(ScriptedServer::Step::DataSend, "def").add(ScriptedServer::Step::DataClose).send("226 Done");
    logIn();
    EXPECT_TRUE(ftp.download((dir / "file.bin").string(), "file.bin", true, false, 6, true));
    EXPECT_EQ(bw::test::readFile(dir / "file.bin"), "abcdef");
    EXPECT_TRUE(server.waitFinished());
    EXPECT_TRUE(server.failures().empty()) << server.failures().front();
}

TEST_F(FtpScripted, UploadInPassiveMode)
{
    // A small file moves on the caller's thread, a large one on the data connection's worker.
    for (const std::size_t size : {std::size_t{1000}, std::size_t{200000}}) {
        TempDir dir;
        const std::string bytes = bw::test::patternBytes(size);
        bw::test::writeFile(dir / "up.bin", bytes);
        ScriptedServer scripted;
        greetAndLogIn(scripted);
        scripted.reply("TYPE I", "200 Binary");
        scripted.expect("PASV").add(
            ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        scripted.expect("STOR up.bin").add(ScriptedServer::Step::DataAccept).send("150 Go ahead");
        scripted.add(ScriptedServer::Step::DataReceive).send("226 Stored");
        scripted.start();
        FtpConnection connection;
        ASSERT_TRUE(connection.createAndBind(0));
        ASSERT_TRUE(connection.login(scriptedSite(scripted, 7)));
        EXPECT_TRUE(connection.upload((dir / "up.bin").string(), "up.bin", true, true)) << size;
        EXPECT_TRUE(scripted.waitFinished()) << size;
        EXPECT_EQ(scripted.dataReceived(), bytes) << size;
    }
}

TEST_F(FtpScripted, ListingCommandWordsAndPaths)
{
    greetAndLogIn(server);
    for (const char *command : {"LIST", "NLST", "LIST /pub"}) {
        server.expect("PASV").add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.expect(command).add(ScriptedServer::Step::DataAccept).send("150 Here it comes");
        server.add(ScriptedServer::Step::DataSend, "one\r\ntwo\r\n").add(ScriptedServer::Step::DataClose);
        server.send("226 Done");
    }
    logIn();
    EXPECT_TRUE(ftp.list("", true, true));
    EXPECT_TRUE(ftp.list("", false, true));
    std::vector<std::string> names;
    while (ftp.parseNextEntry("*"))
        names.push_back(ftp.entryName());
    EXPECT_EQ(names, (Lines{"one", "two"}));
    EXPECT_TRUE(ftp.list("/pub", true, true));
    EXPECT_TRUE(server.waitFinished());
    EXPECT_TRUE(server.failures().empty()) << server.failures().front();
}

// A server whose FEAT offers MLST is listed with MLSD, and a name MLSD refuses (a file) with LIST; MDTM is
// asked of it, and FEAT only once per login.
TEST_F(FtpScripted, MachineListingsWhereOfferedAndListWhereRefused)
{
    greetAndLogIn(server);
    server.reply("FEAT", "211-Features:\r\n MLST type*;size*;modify*;\r\n MDTM\r\n211 End");
    const auto exchange = [&](const char *command, const char *reply, const std::string &data) {
        server.expect("PASV").add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.expect(command).add(ScriptedServer::Step::DataAccept).send(reply);
        if (!data.empty())
            server.add(ScriptedServer::Step::DataSend, data)
                .add(ScriptedServer::Step::DataClose)
                .send("226 Done");
        else
            server.add(ScriptedServer::Step::DataClose);
    };
    exchange("MLSD", "150 Here",
        "type=cdir; .\r\ntype=dir;modify=20240131120000; sub\r\ntype=file;size=5; f.txt\r\n");
    exchange("MLSD f.txt", "501 Not a folder", "");
    exchange("LIST f.txt", "150 Here", fileLine("f.txt", 5));
    server.reply("MDTM f.txt", "213 20240131120000");
    logIn();
    ASSERT_TRUE(ftp.list("", true, true));
    std::vector<std::string> names;
    while (ftp.parseNextEntry("*"))
        names.push_back(ftp.entryName() + (ftp.entryIsDirectory() ? "/" : ""));
    EXPECT_EQ(names, (Lines{"sub/", "f.txt"}));
    EXPECT_TRUE(ftp.list("f.txt", true, true)) << ftp.error().text();
    ASSERT_TRUE(ftp.parseNextEntry("*"));
    EXPECT_EQ(ftp.entrySize(), 5);
    std::int64_t when = 0;
    EXPECT_TRUE(ftp.modificationTime("f.txt", when));
    EXPECT_EQ(when, 1706702400);
    EXPECT_TRUE(server.waitFinished());
    EXPECT_TRUE(server.failures().empty()) << server.failures().front();
}

// A listing past its bound fails without entries, and the control connection stays in step. The bound is
// lowered to 100 lines here.
TEST(FtpListing, ALargerListingThanTheBoundFailsUnread)
{
    const struct
    {
        int names;
        bool fits;
    } cases[] = {{100, true}, {101, false}, {3000, false}};

    for (const auto &c : cases) {
        const auto line = [](int i) {
            return "-rw-r--r--    1 ftp      ftp      4 Jan 01 12:00 n" + std::to_string(10000 + i).substr(1)
                + "\r\n";
        };
        std::string listing;
        for (int i = 0; i < c.names; ++i)
            listing += line(i);
        ScriptedServer server;
        greetAndLogIn(server);
        passiveListing(server, listing);
        server.reply("NOOP", "200 Still here");
        server.start();
        FtpConnection ftp;
        ftp.setListingLimitBytes(100 * static_cast<std::int64_t>(line(0).size()));
        ASSERT_TRUE(ftp.createAndBind(0));
        ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));
        EXPECT_EQ(ftp.list("", true, true), c.fits) << c.names;
        int entries = 0;
        while (ftp.parseNextEntry("*"))
            ++entries;
        EXPECT_EQ(entries, c.fits ? c.names : 0) << c.names;
        EXPECT_EQ(ftp.error().is(CatProtocol, ListingTooLarge), !c.fits) << c.names;
        ftp.sendCommand("NOOP\r\n");
        EXPECT_EQ(ftp.readReply(), 200) << c.names;
        EXPECT_TRUE(server.waitFinished());
        EXPECT_TRUE(server.failures().empty()) << c.names << ": " << server.failures().front();
    }
}

void expectStalledDownloadFails(std::int64_t knownSize)
{
    platform::ManualClock clock(100000);
    ScriptedServer server;
    greetAndLogIn(server);
    server.reply("TYPE I", "200 Binary");
    server.expect("PASV").add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.expect("RETR file.bin").add(ScriptedServer::Step::DataAccept).send("150 Opening");
    server.add(ScriptedServer::Step::DataSend, "12345").add(ScriptedServer::Step::DataHold);
    server.send("426 Transfer aborted").reply("NOOP", "200 OK");
    server.start();
    FtpConnection ftp;
    ftp.setFtpClock(&clock);
    ftp.setTimeout(30);
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));
    DownloadThread download(ftp, true, knownSize);
    SocketConnection &data = ftp.dataConnection();
    ASSERT_TRUE(bw::test::waitUntil([&] { return data.bytesDone() == 5 && data.isStalled(); }));
    // The percentage follows the data connection: 5 bytes of many.
    EXPECT_EQ(ftp.progressPercent(), 0);
    // Stalled for longer than the time-out: the next poll stops the data connection.
    clock.advance(31);
    server.release();
    EXPECT_TRUE(download.ends(std::chrono::seconds(5)));
    EXPECT_FALSE(download.succeeded());
    EXPECT_TRUE(ftp.error().is(CatStop, DataIdleTimeout));
    EXPECT_EQ(ftp.ftpState(), FtpState::Idle);
    ftp.sendCommand("NOOP\r\n");
    EXPECT_EQ(ftp.readReply(), 200);
}

TEST(FtpStall, TransferWithoutProgressFailsAfterTheTimeout)
{
    // A file the listing says is small is read in small blocks; a large one is spliced.
    for (const std::int64_t knownSize : {std::int64_t{10000}, std::int64_t{1000000}}) {
        SCOPED_TRACE(knownSize);
        expectStalledDownloadFails(knownSize);
    }
}

TEST(FtpProgress, PercentOfTransferOrOfIdleTime)
{
    platform::ManualClock clock(100000);
    ScriptedServer server;
    greetAndLogIn(server);
    server.reply("TYPE I", "200 Binary");
    server.expect("PASV").add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.expect("RETR file.bin").add(ScriptedServer::Step::DataAccept).send("150 Opening");
    server.add(ScriptedServer::Step::DataSend, std::string(5000, 'x')).add(ScriptedServer::Step::DataHold);
    server.add(ScriptedServer::Step::DataSend, std::string(5000, 'y')).add(ScriptedServer::Step::DataClose);
    server.send("226 Done");
    server.start();
    FtpConnection ftp;
    ftp.setFtpClock(&clock);
    ftp.setTimeout(30);
    clock.advance(15);
    EXPECT_EQ(ftp.progressPercent(), 50);
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));
    TempDir dir;
    Recorder recorder;
    ftp.setObserver(&Recorder::observe, &recorder);
    // Progress keeps coming while the transfer stalls, to the observer and to the caller's callback.
    std::atomic<int> ticks{0};
    std::thread download([&] {
        EXPECT_TRUE(ftp.download((dir / "file.bin").string(), "file.bin", true, true, 10000, false,
            [&](std::int64_t, std::int64_t) { ++ticks; }));
    });
    ASSERT_TRUE(bw::test::waitUntil([&] { return ftp.dataConnection().bytesDone() == 5000; }));
    EXPECT_EQ(ftp.progressPercent(), 50);
    EXPECT_TRUE(bw::test::waitUntil([&] { return ticks.load() >= 3; }));
    server.release();
    download.join();
    EXPECT_EQ(bw::test::readFile(dir / "file.bin"), std::string(5000, 'x') + std::string(5000, 'y'));
    EXPECT_EQ(ftp.progressPercent(), 0);
    EXPECT_EQ(recorder.count(NotifyProgress), ticks.load());
    const auto last = std::find_if(recorder.seen.rbegin(), recorder.seen.rend(),
        [](const ConnectionNotification &n) { return n.kind == NotifyProgress; });
    ASSERT_NE(last, recorder.seen.rend());
    EXPECT_EQ(last->first, 10000);
    EXPECT_EQ(last->second, 10000);
}

TEST(FtpAbort, AbortFromAnotherThreadEndsTheTransfer)
{
    ScriptedServer server;
    greetAndLogIn(server);
    server.reply("TYPE I", "200 Binary");
    server.expect("PASV").add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
    server.expect("RETR file.bin").add(ScriptedServer::Step::DataAccept).send("150 Opening");
    server.add(ScriptedServer::Step::DataHold).send("426 Transfer aborted").reply("NOOP", "200 OK");
    server.start();
    FtpConnection ftp;
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));
    DownloadThread download(ftp, true, 0);
    ASSERT_TRUE(bw::test::waitUntil([&] { return ftp.dataConnection().isStalled(); }));
    ftp.abort(StopByItem);
    EXPECT_TRUE(download.ends(std::chrono::seconds(3)));
    server.release();
    EXPECT_FALSE(download.succeeded());
    EXPECT_TRUE(ftp.error().is(CatStop, StopByItem));
    // The stop stays until its owner takes it back; then the connection carries on in step: the
    // aborted transfer's closing reply is read first.
    EXPECT_TRUE(ftp.isStopRequested());
    ftp.clearStop();
    ftp.sendCommand("NOOP\r\n");
    EXPECT_EQ(ftp.readReply(), 200);
}

// After the login: an active-mode RETR that the server announces with 150 but never connects for,
// and then nothing more until released.
void announceActiveDownloadAndGoSilent(ScriptedServer &server)
{
    server.reply("TYPE I", "200 Binary").expect("").send("200 PORT ok");
    server.reply("RETR file.bin", "150 Opening").hold();
    server.start();
}

TEST(FtpAbort, AbortEndsAnActiveModeAcceptWait)
{
    ScriptedServer server;
    greetAndLogIn(server);
    announceActiveDownloadAndGoSilent(server);
    FtpConnection ftp;
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));
    DownloadThread download(ftp, false, 0);
    ASSERT_TRUE(bw::test::waitUntil([&] { return server.received().size() == 5; }));
    ftp.abort(StopByEngine);
    EXPECT_TRUE(download.ends(std::chrono::seconds(3)));
    server.release();
    EXPECT_FALSE(download.succeeded());
    // Stopped in the accept wait, or (if the stop came first) while reading the RETR reply.
    const ErrorCode record = ftp.error();
    EXPECT_TRUE(record.is(CatProtocol, DataConnectionFailed) || record.is(CatProtocol, PermissionDenied));
    EXPECT_FALSE(ftp.listenerConnection().hasSocket());
}

// A server that answers the command 150 and then never opens the active data connection: a reply in
// its place ends the wait at once, silence ends it after the connection's time-out, and either way the
// connection stays in step with the server.
TEST(FtpActive, AServerThatNeverConnectsEndsTheAcceptWait)
{
    struct Case
    {
        const char *name;
        bool answers; // a 425 follows the 150 at once; otherwise only after the wait gave up
    };

    for (const Case c : {Case{"answers 425", true}, Case{"stays silent", false}}) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        greetAndLogIn(server);
        server.reply("TYPE I", "200 Binary").expect("").send("200 PORT ok");
        server.reply("RETR file.bin", "150 Opening");
        if (!c.answers)
            server.hold();
        server.send("425 Could not open the data connection").reply("NOOP", "200 OK");
        server.start();
        FtpConnection ftp;
        // One second of silence is the limit; a reply must not wait even for that.
        ftp.setTimeout(c.answers ? 30 : 1);
        ASSERT_TRUE(ftp.createAndBind(0));
        ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));
        TempDir dir;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(ftp.download((dir / "file.bin").string(), "file.bin", true, false, 0, false));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_TRUE(ftp.error().is(CatProtocol, DataConnectionFailed)) << ftp.error().text();
        EXPECT_FALSE(ftp.listenerConnection().hasSocket());
        server.release();
        // The 425 is the failed command's reply, never the next command's.
        ftp.clearError();
        ftp.sendCommand("NOOP\r\n");
        EXPECT_EQ(ftp.readReply(), 200);
        EXPECT_TRUE(server.waitFinished());
        EXPECT_TRUE(server.failures().empty()) << server.failures().front();
    }
}

// A stop that comes while the command announcing the transfer is still being answered ends the accept
// wait that follows, and leaving the server then does not wait for a goodbye it may never send.
TEST(FtpAbort, AStopBeforeTheAcceptWaitEndsItAndTheQuit)
{
    ScriptedServer server;
    greetAndLogIn(server);
    announceActiveDownloadAndGoSilent(server);
    FtpConnection ftp;
    ftp.setTimeout(30);
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(scriptedSite(server, 7)));

    struct StopAtReply
    {
        FtpConnection *ftp;

        static void observe(void *context, const ConnectionNotification &notification)
        {
            if (notification.kind == NotifyReplyReceived && notification.text.starts_with("150"))
                static_cast<StopAtReply *>(context)->ftp->abort(StopByEngine);
        }
    } stopper{&ftp};

    ftp.setObserver(&StopAtReply::observe, &stopper);
    TempDir dir;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ftp.download((dir / "file.bin").string(), "file.bin", true, false, 0, false));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(ftp.listenerConnection().hasSocket());
    const auto leaving = std::chrono::steady_clock::now();
    ftp.disconnect(StopByEngine);
    EXPECT_LT(std::chrono::steady_clock::now() - leaving, std::chrono::seconds(5));
    EXPECT_EQ(ftp.ftpState(), FtpState::Closed);
    server.release();
}

// A greeting trickled a byte at a time, each well within the time-out: the login still ends, at the
// reply's overall deadline.
TEST(FtpControl, AGreetingTrickledByteByByteEndsTheLogin)
{
    ScriptedServer server;
    server.add(ScriptedServer::Step::Trickle, "220" + std::string(100, ' '));
    server.start();
    FtpConnection ftp;
    ftp.setTimeout(1);
    ASSERT_TRUE(ftp.createAndBind(0));
    auto login = std::async(std::launch::async, [&] { return ftp.login(scriptedSite(server, 7)); });
    ASSERT_EQ(login.wait_for(std::chrono::seconds(15)), std::future_status::ready);
    EXPECT_FALSE(login.get());
}

TEST(FtpControl, OverlongReplyLineClosesTheConnection)
{
    ScriptedServer server;
    server.sendRaw("220 " + std::string(SocketConnection::kMaxLineBytes + 100, 'x')).hold();
    server.start();
    FtpConnection ftp;
    ASSERT_TRUE(ftp.createAndBind(0));
    EXPECT_FALSE(ftp.login(scriptedSite(server, 7)));
    EXPECT_EQ(ftp.ftpState(), FtpState::Closed);
    EXPECT_FALSE(ftp.hasSocket());
    server.release();
}

} // namespace
} // namespace bw::net
