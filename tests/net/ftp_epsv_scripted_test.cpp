// SPDX-License-Identifier: MIT
// EPSV and its PASV fallback, EPRT on IPv6, and connecting through a name with several addresses,
// against the scripted server on 127.0.0.1 and ::1.
#include <memory>
#include <regex>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/ftp_connection.h"
#include "support/ftp_script.h"
#include "support/protocol_recorder.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace bw::net {
namespace {

// The scripted server, its script pieces and the test folders.
using namespace bw::test;
using Recorder = ProtocolRecorder;
using Lines = std::vector<std::string>;

// A passive download of `bytes` once the data listener is announced by `announce`; the type is set
// only on the connection's first transfer.
void passiveRetr(ScriptedServer &server, const std::string &command, const std::string &announce,
    const std::string &name, const std::string &bytes, bool setsType = true)
{
    if (setsType)
        server.reply("TYPE I", "200 Binary");
    server.expect(command).add(ScriptedServer::Step::PassiveListen, announce);
    server.expect("RETR " + name).send("150 Opening").add(ScriptedServer::Step::DataAccept);
    server.add(ScriptedServer::Step::DataSend, bytes).add(ScriptedServer::Step::DataClose).send("226 Done");
}

const char *kEpsvReply = "229 Entering Extended Passive Mode (|||{epsv}|)";

TEST(FtpEpsvScripted, UsesEpsvAndConnectsToTheControlPeer)
{
    ScriptedServer server;
    server.scriptEpsv();
    greetAndLogIn(server);
    passiveRetr(server, "EPSV", kEpsvReply, "a.bin", "extended bytes");
    server.start();
    FtpConnection ftp;
    ASSERT_TRUE(ftp.login(scriptedSite(server))) << ftp.error().text();
    TempDir dir;
    EXPECT_TRUE(ftp.download((dir / "a.bin").string(), "a.bin", true, true, 14, false)) << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(dir / "a.bin"), "extended bytes");
    EXPECT_EQ(ftp.pasvHost(), "127.0.0.1");
    EXPECT_EQ(ftp.pasvPort(), server.dataPort());
    EXPECT_FALSE(ftp.isEpsvRefused());
    EXPECT_TRUE(server.waitFinished());
    EXPECT_TRUE(server.failures().empty()) << server.failures().front();
}

TEST(FtpEpsvScripted, RefusedEpsvFallsBackToPasvAndIsNotAskedAgain)
{
    for (const char *refusal : {"500 Unknown command", "502 Not implemented", "522 Use (1)"}) {
        SCOPED_TRACE(refusal);
        ScriptedServer server;
        server.scriptEpsv();
        greetAndLogIn(server);
        server.reply("TYPE I", "200 Binary").reply("EPSV", refusal);
        server.expect("PASV").add(ScriptedServer::Step::PassiveListen, "227 Entering Passive Mode ({pasv})");
        server.expect("RETR one.bin").send("150 Opening").add(ScriptedServer::Step::DataAccept);
        server.add(ScriptedServer::Step::DataSend, "first")
            .add(ScriptedServer::Step::DataClose)
            .send("226 Done");
        // The second transfer on the same connection goes straight to PASV.
        passiveRetr(server, "PASV", "227 Entering Passive Mode ({pasv})", "two.bin", "second", false);
        server.start();
        FtpConnection ftp;
        Recorder recorder;
        ftp.setObserver(&Recorder::observe, &recorder);
        ASSERT_TRUE(ftp.login(scriptedSite(server))) << ftp.error().text();
        TempDir dir;
        EXPECT_TRUE(ftp.download((dir / "one.bin").string(), "one.bin", true, true, 5, false))
            << ftp.error().text();
        EXPECT_TRUE(ftp.isEpsvRefused());
        EXPECT_TRUE(ftp.download((dir / "two.bin").string(), "two.bin", true, true, 6, false))
            << ftp.error().text();
        EXPECT_EQ(bw::test::readFile(dir / "one.bin"), "first");
        EXPECT_EQ(bw::test::readFile(dir / "two.bin"), "second");
        EXPECT_TRUE(server.waitFinished());
        EXPECT_TRUE(server.failures().empty()) << server.failures().front();
        const Lines sent = server.received();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "EPSV"), 1);
        // The fallback goes to the diagnostic log: the Batch Log shows only where it connected.
        EXPECT_EQ(recorder.status,
            std::vector<std::string>{"Connected to 127.0.0.1 port " + std::to_string(server.port())});
    }
}

TEST(FtpEpsvScripted, BadEpsvRepliesFailTheTransfer)
{
    struct Case
    {
        const char *reply;
        std::int32_t error;
    };

    for (const Case c : {Case{"229 Entering Extended Passive Mode", MalformedResponse},
             Case{"229 Entering Extended Passive Mode (|||0|)", MalformedResponse},
             Case{"229 Entering Extended Passive Mode (|||70000|)", MalformedResponse},
             Case{"229 Entering Extended Passive Mode (|1|127.0.0.1|21|)", MalformedResponse},
             Case{"229 Entering Extended Passive Mode (|||12x|)", MalformedResponse},
             Case{"425 Cannot open", UnexpectedResponse}}) {
        SCOPED_TRACE(c.reply);
        ScriptedServer server;
        server.scriptEpsv();
        greetAndLogIn(server);
        server.reply("TYPE I", "200 Binary").reply("EPSV", c.reply);
        server.start();
        FtpConnection ftp;
        ASSERT_TRUE(ftp.login(scriptedSite(server))) << ftp.error().text();
        TempDir dir;
        EXPECT_FALSE(ftp.download((dir / "x.bin").string(), "x.bin", true, true, 0, false));
        EXPECT_TRUE(ftp.error().is(CatProtocol, DataConnectionFailed)) << ftp.error().text();
        EXPECT_FALSE(ftp.isEpsvRefused());
        EXPECT_TRUE(server.waitFinished());
    }
}

// A server refuses EPSV and answers PASV with one endless line: the connection ends with a clear
// error instead of the reply growing (or the address scan running out of stack).
TEST(FtpEpsvScripted, AnOverlongPasvReplyEndsTheConnection)
{
    ScriptedServer server;
    server.scriptEpsv();
    greetAndLogIn(server);
    server.reply("TYPE I", "200 Binary").reply("EPSV", "500 Unknown command");
    server.reply("PASV", "227 (1" + std::string(45000, ' ') + ")").hold();
    server.start();
    FtpConnection ftp;
    Recorder recorder;
    ftp.setObserver(&Recorder::observe, &recorder);
    ASSERT_TRUE(ftp.login(scriptedSite(server))) << ftp.error().text();
    TempDir dir;
    EXPECT_FALSE(ftp.download((dir / "x.bin").string(), "x.bin", true, true, 0, false));
    EXPECT_FALSE(ftp.hasSocket());
    EXPECT_EQ(ftp.ftpState(), FtpState::Closed);
    EXPECT_NE(std::find(recorder.status.begin(), recorder.status.end(),
                  "The server's reply is too long (a line over 8192 bytes or a reply over 1048576 bytes): "
                  "connection closed"),
        recorder.status.end());
    server.release();
}

TEST(FtpEpsvScripted, ActiveModeOnIpv6SendsEprt)
{
    ScriptedServer server{ScriptedServer::Loopback::V6};
    greetAndLogIn(server);
    server.reply("TYPE I", "200 Binary");
    server.expect("").send("200 EPRT ok");
    server.expect("RETR file.bin").add(ScriptedServer::Step::DataConnect).send("150 Opening");
    server.add(ScriptedServer::Step::DataSend, "v6 active")
        .add(ScriptedServer::Step::DataClose)
        .send("226 Done");
    server.start();
    FtpConnection ftp;
    ASSERT_TRUE(ftp.createAndBind(0));
    ASSERT_TRUE(ftp.login(FtpSite{"::1", server.port(), "u", "p", 1})) << ftp.error().text();
    TempDir dir;
    EXPECT_TRUE(ftp.download((dir / "file.bin").string(), "file.bin", true, false, 9, false))
        << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(dir / "file.bin"), "v6 active");
    const Lines sent = server.received();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_TRUE(std::regex_match(sent[3], std::regex(R"(EPRT \|2\|::1\|[0-9]+\|)"))) << sent[3];
    EXPECT_TRUE(server.failures().empty()) << server.failures().front();
}

TEST(FtpEpsvScripted, PassiveOnIpv6ConnectsToTheIpv6Peer)
{
    ScriptedServer server{ScriptedServer::Loopback::V6};
    server.scriptEpsv();
    greetAndLogIn(server);
    passiveRetr(server, "EPSV", kEpsvReply, "b.bin", "over ipv6");
    server.start();
    FtpConnection ftp;
    Recorder recorder;
    ftp.setObserver(&Recorder::observe, &recorder);
    ASSERT_TRUE(ftp.login(FtpSite{"::1", server.port(), "u", "p", 1})) << ftp.error().text();
    TempDir dir;
    EXPECT_TRUE(ftp.download((dir / "b.bin").string(), "b.bin", true, true, 9, false)) << ftp.error().text();
    EXPECT_EQ(bw::test::readFile(dir / "b.bin"), "over ipv6");
    EXPECT_EQ(ftp.pasvHost(), "::1");
    ASSERT_FALSE(recorder.status.empty());
    EXPECT_EQ(recorder.status.front(), "Connected to ::1 port " + std::to_string(server.port()));
}

// Holds 127.0.0.1:port without listening, so a connect there is refused and nothing else can take it.
class RefusingIpv4Port
{
public:
    explicit RefusingIpv4Port(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }

    ~RefusingIpv4Port()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool isBound() const { return m_bound; }

private:
    int m_fd = -1;
    bool m_bound = false;
};

// A server on ::1 whose port is held on 127.0.0.1 by a socket that refuses connections. Another
// program may own that port on 127.0.0.1 already, so a few ports are tried.
struct Ipv6OnlyPort
{
    Ipv6OnlyPort()
    {
        for (int attempt = 0; attempt < 50 && !(refusing && refusing->isBound()); ++attempt) {
            server = std::make_unique<ScriptedServer>(ScriptedServer::Loopback::V6);
            refusing = std::make_unique<RefusingIpv4Port>(server->port());
        }
    }

    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<RefusingIpv4Port> refusing;
};

std::vector<std::string> ipv4ThenIpv6(const std::string &)
{
    return {"127.0.0.1", "::1"};
}

TEST(FtpEpsvScripted, NameWithAnUnreachableFirstAddressConnectsToTheNext)
{
    Ipv6OnlyPort ports;
    ASSERT_TRUE(ports.refusing->isBound());
    ScriptedServer &server = *ports.server;
    greetAndLogIn(server);
    server.start();
    FtpConnection ftp;
    Recorder recorder;
    ftp.setObserver(&Recorder::observe, &recorder);
    ftp.controlConnection().setResolver(&ipv4ThenIpv6);
    ASSERT_TRUE(ftp.login(FtpSite{"two-addresses.test", server.port(), "u", "p", 1})) << ftp.error().text();
    EXPECT_EQ(ftp.controlConnection().peerAddress(), "::1");
    ASSERT_FALSE(recorder.status.empty());
    EXPECT_EQ(recorder.status.front(), "Connected to ::1 port " + std::to_string(server.port()));
}

std::vector<std::string> onlyIpv4(const std::string &)
{
    return {"127.0.0.1"};
}

TEST(FtpEpsvScripted, EveryAddressRefusedKeepsTheSocketError)
{
    Ipv6OnlyPort ports;
    ASSERT_TRUE(ports.refusing->isBound());
    ScriptedServer &server = *ports.server;
    SocketConnection socket;
    socket.setResolver(&onlyIpv4);
    EXPECT_FALSE(socket.connect("refusing.test", server.port()));
    EXPECT_TRUE(socket.error().isSet());
    EXPECT_FALSE(socket.isConnected());
    EXPECT_TRUE(socket.hasSocket()); // a fresh socket stands ready for the next try
}

} // namespace
} // namespace bw::net
