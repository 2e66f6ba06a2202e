// SPDX-License-Identifier: MIT
// Logging in to the test sshd each way a user may (agent, key files, ~/.ssh/config, password), and
// host keys: unknown and changed keys refused with words the user can act on, nothing ever written
// unless asked, hashed and other-type known_hosts lines understood.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "net/sftp_session.h"
#include "support/sftp_test_home.h"

namespace bw::net {
namespace {

using namespace bw::test;
namespace fs = std::filesystem;

class SftpSessionTest : public ::testing::Test
{
protected:
    void SetUp() override { ::unsetenv("SSH_AUTH_SOCK"); }

    SftpTestHome home;
};

TEST_F(SftpSessionTest, LogsInEachWayAndRefusesWhatItMust)
{
    struct Case
    {
        const char *name;
        std::function<void(SftpTestHome &, RemoteSite &, SftpSessionOptions &)> prepare;
        bool agent;
        ErrorCode expected; // clear: logged in
        std::string detail;
    };

    const SftpServer &server = home.server();
    int asked = 0;
    const Case cases[] = {
        {"password", [](auto &, auto &, auto &) {}, false, {}, ""},
        {"key file in ~/.ssh",
            [&](SftpTestHome &h, RemoteSite &site, auto &) {
                h.installKey(server.keyPath, "id_ed25519");
                site.password.clear();
            },
            false, {}, ""},
        {"agent", [](auto &, RemoteSite &site, auto &) { site.password.clear(); }, true, {}, ""},
        {"config alias",
            [&](SftpTestHome &h, RemoteSite &site, auto &) {
                fs::create_directories(h.path() / "keys");
                fs::copy_file(server.keyPath, h.path() / "keys/mine");
                std::ofstream(h.ssh() / "config")
                    << "Host bellwick-alias\n  HostName 127.0.0.1\n  Port " << server.port << "\n  User "
                    << server.user << "\n  IdentityFile ~/keys/mine\n";
                site = RemoteSite{"bellwick-alias", 22, "", "", 1};
            },
            false, {}, ""},
        {"key with passphrase, asked once",
            [&](SftpTestHome &h, RemoteSite &site, SftpSessionOptions &options) {
                h.installKey(server.lockedKeyPath, "id_ecdsa");
                site.password.clear();
                options.passphrase = [&](const std::string &key) {
                    ++asked;
                    return key == "~/.ssh/id_ecdsa" ? std::optional(server.keyPassphrase) : std::nullopt;
                };
            },
            false, {}, ""},
        {"key with passphrase and no one to ask",
            [&](SftpTestHome &h, RemoteSite &site, auto &) {
                h.installKey(server.lockedKeyPath, "id_ed25519");
                site.password.clear();
            },
            false, {CatProtocol, PasswordInvalid},
            "Key ~/.ssh/id_ed25519 needs its passphrase: add it to ssh-agent"},
        {"wrong password", [](auto &, RemoteSite &site, auto &) { site.password = "not-the-password"; },
            false, {CatProtocol, PasswordInvalid}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SftpTestHome fresh;
        fresh.trustServer();
        RemoteSite site = fresh.site();
        SftpSessionOptions options = fresh.options();
        c.prepare(fresh, site, options);
        std::unique_ptr<PrivateAgent> agent;
        if (c.agent) {
            agent = std::make_unique<PrivateAgent>(fresh.path(), server.keyPath);
            ASSERT_TRUE(agent->added);
        }
        SftpSession session{options};
        const bool connected = session.connect(site);
        const ErrorCode error = session.error();
        EXPECT_EQ(connected, !c.expected.isSet()) << error.text() << " " << error.detail();
        EXPECT_TRUE(error.is(c.expected.category(), c.expected.code()))
            << error.text() << " " << error.detail();
        if (!c.detail.empty()) {
            EXPECT_EQ(error.detail(), c.detail);
        }
        if (connected) {
            // The login starts in the served folder; a second login reuses a passphrase given once.
            std::string folder;
            EXPECT_TRUE(session.currentFolder(folder));
            EXPECT_EQ(fs::canonical(folder), fs::canonical(server.root));
            EXPECT_TRUE(session.connect(site));
        }
    }
    EXPECT_EQ(asked, 1);
}

TEST_F(SftpSessionTest, RefusesAnUnknownHostKeyAndWritesNothing)
{
    SftpSession session{home.options()};
    EXPECT_FALSE(session.connect(home.site()));
    const std::string fingerprint = session.hostKey().fingerprint;
    const std::string ed25519 = serverKeyFingerprint(home.server(), "ed25519");
    const std::string ecdsa = serverKeyFingerprint(home.server(), "ecdsa");
    EXPECT_TRUE(fingerprint == ed25519 || fingerprint == ecdsa) << fingerprint;
    EXPECT_EQ(session.error().detail(), "Host key unknown: " + fingerprint);
    EXPECT_FALSE(session.isLoggedIn());
    EXPECT_FALSE(fs::exists(home.knownHosts()));

    // The same key accepted for this session alone.
    SftpSessionOptions options = home.options();
    options.trustedHostKey = fingerprint;
    SftpSession trusting{options};
    EXPECT_TRUE(trusting.connect(home.site())) << trusting.error().detail();
    EXPECT_FALSE(fs::exists(home.knownHosts()));
}

TEST_F(SftpSessionTest, RefusesAChangedHostKeyNamingBothKeys)
{
    const fs::path other = home.path() / "other";
    ASSERT_EQ(runCommand("ssh-keygen -q -t ed25519 -N '' -f " + other.string()), 0);
    std::ifstream pub(other.string() + ".pub");
    std::string type, key;
    pub >> type >> key;
    std::ofstream(home.knownHosts()) << "[127.0.0.1]:" << home.server().port << " " << type << " " << key
                                     << "\n";
    const auto before = fs::last_write_time(home.knownHosts());

    for (const bool withTrustOption : {false, true}) {
        SftpSessionOptions options = home.options();
        if (withTrustOption)
            options.trustedHostKey = serverKeyFingerprint(home.server(), "ed25519");
        SftpSession session{options};
        EXPECT_FALSE(session.connect(home.site()));
        const std::string detail = session.error().detail();
        EXPECT_NE(detail.find("host key"), std::string::npos) << detail;
        EXPECT_NE(detail.find(publicKeyFingerprint(other.string() + ".pub")), std::string::npos) << detail;
        EXPECT_NE(detail.find(serverKeyFingerprint(home.server(), "ed25519")), std::string::npos) << detail;
    }
    std::string error;
    EXPECT_FALSE(
        trustHostKey(home.site(), serverKeyFingerprint(home.server(), "ed25519"), error, home.options()));
    EXPECT_NE(error.find("host key"), std::string::npos) << error;
    EXPECT_EQ(fs::last_write_time(home.knownHosts()), before);
}

TEST_F(SftpSessionTest, ReadsHashedLinesAndEveryKeyTypeOnIpv4AndIpv6)
{
    struct Case
    {
        const char *name;
        const char *edit; // a shell command on the known_hosts file (KH)
        bool ipv6;
    };

    const Case cases[] = {
        {"plain lines", "true", false},
        {"plain lines, ::1", "true", true},
        {"hashed lines", "ssh-keygen -q -H -f \"$KH\" >/dev/null 2>&1 && rm -f \"$KH.old\"", false},
        {"only the ECDSA key", "sed -i '/ed25519/d' \"$KH\"", false},
        {"only the ed25519 key, hashed",
            "sed -i '/ecdsa/d' \"$KH\" && ssh-keygen -q -H -f \"$KH\" >/dev/null 2>&1 && rm -f \"$KH.old\"",
            true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SftpTestHome fresh;
        fresh.trustServer();
        ASSERT_EQ(runCommand("KH=" + fresh.knownHosts().string() + "; " + c.edit), 0);
        RemoteSite site = fresh.site();
        if (c.ipv6)
            site.host = fresh.server().host6;
        SftpSession session{fresh.options()};
        EXPECT_TRUE(session.connect(site)) << session.error().text() << " " << session.error().detail();
    }
}

TEST_F(SftpSessionTest, TrustingAHostKeyAppendsALineOpenSshFinds)
{
    std::string error;
    // A fingerprint other than the one the server shows now is refused.
    EXPECT_FALSE(trustHostKey(home.site(), "SHA256:notTheServersKey", error, home.options()));
    EXPECT_FALSE(fs::exists(home.knownHosts()));

    fs::remove(home.ssh());
    SftpSession probe{home.options()};
    ASSERT_FALSE(probe.connect(home.site()));
    ASSERT_TRUE(trustHostKey(home.site(), probe.hostKey().fingerprint, error, home.options())) << error;

    struct stat info
    {};

    ASSERT_EQ(::stat(home.ssh().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(home.knownHosts().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(runCommand("ssh-keygen -F '[127.0.0.1]:" + std::to_string(home.server().port) + "' -f "
                  + home.knownHosts().string() + " >/dev/null"),
        0);
    SftpSession session{home.options()};
    EXPECT_TRUE(session.connect(home.site())) << session.error().detail();
    EXPECT_FALSE(trustHostKey(home.site(), probe.hostKey().fingerprint, error, home.options()));
}

TEST_F(SftpSessionTest, ClosingReleasesEveryDescriptor)
{
    home.trustServer();
    const auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    SftpSession session{home.options()};
    ASSERT_TRUE(session.connect(home.site()));
    session.close();
    const auto before = openDescriptors();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(session.connect(home.site()));
        session.disconnect(0);
    }
    EXPECT_EQ(openDescriptors(), before);
}

// Small requests leave at once: without TCP_NODELAY each waits for the ACK of the one before, and a
// tree of small files takes 40 ms a request.
TEST_F(SftpSessionTest, TheSocketToTheServerSendsWithoutDelay)
{
    home.trustServer();
    SftpSession session{home.options()};
    ASSERT_TRUE(session.connect(home.site()));
    int sockets = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int noDelay = 0;
        socklen_t optionLength = sizeof noDelay;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0 || peer.sin_family != AF_INET
            || ntohs(peer.sin_port) != home.server().port)
            continue;
        ++sockets;
        ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &optionLength), 0);
        EXPECT_NE(noDelay, 0) << "descriptor " << fd;
    }
    EXPECT_GT(sockets, 0);
}

} // namespace
} // namespace bw::net
