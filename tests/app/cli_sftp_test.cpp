// SPDX-License-Identifier: MIT
// bellwick-cli over SFTP against the private sshd: each way of logging in, files and trees both ways,
// resuming its own partial file, and host keys refused at once without a question.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "support/sftp_test_home.h"
#include "support/test_servers.h"

namespace bw::test {
namespace {

enum class Login
{
    Password, // in the URL
    KeyFile, // ~/.ssh/id_ed25519
    ConfigAlias, // a Host block of ~/.ssh/config names the address, port, user and key
    Agent, // the only key is in ssh-agent
};

enum class Job
{
    Download,
    Resume, // from the runner's own NAME.part
    DownloadTree,
    Upload,
    UploadTree,
};

void writeText(const fs::path &path, const std::string &text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string bigText(char seed)
{
    std::string text(300000, seed);
    for (std::size_t i = 0; i < text.size(); i += 97)
        text[i] = static_cast<char>('a' + i % 26);
    return text;
}

class CliSftpTest : public CliTest
{
protected:
    CliSftpTest()
    {
        ::unsetenv("SSH_AUTH_SOCK");
        useHome(ssh.path());
        ssh.trustServer();
        // A folder of this test's own on the server, writable by the SFTP user.
        folder = "cli-" + dir.path().filename().string();
        fs::create_directories(remote());
        fs::permissions(remote(), fs::perms::all);
    }

    fs::path remote() const { return fs::path(ssh.server().root) / folder; }

    // The URL of `path` below the test's server folder, logging in as `login` says.
    std::string url(const char *scheme, Login login, const std::string &path)
    {
        const SftpServer &server = ssh.server();
        std::string authority = server.user + "@" + server.host + ":" + std::to_string(server.port);
        if (login == Login::Password)
            authority =
                server.user + ":" + server.password + "@" + server.host + ":" + std::to_string(server.port);
        if (login == Login::ConfigAlias) {
            writeText(ssh.ssh() / "config",
                "Host bwalias\n  HostName " + server.host + "\n  Port " + std::to_string(server.port)
                    + "\n  User " + server.user + "\n  IdentityFile ~/.ssh/alias_key\n");
            ssh.installKey(server.keyPath, "alias_key");
            authority = "bwalias";
        }
        if (login == Login::KeyFile)
            ssh.installKey(server.keyPath, "id_ed25519");
        return std::string(scheme) + "://" + authority + "/~/" + folder + "/" + path;
    }

    SftpTestHome ssh;
    std::string folder;
};

TEST_F(CliSftpTest, TransfersEachWayWithEachLogin)
{
    struct Case
    {
        const char *name;
        Login login;
        Job job;
    };

    const Case cases[] = {
        {"password, download", Login::Password, Job::Download},
        {"key file, resume", Login::KeyFile, Job::Resume},
        {"config alias, tree down", Login::ConfigAlias, Job::DownloadTree},
        {"agent, upload", Login::Agent, Job::Upload},
        {"password, tree up", Login::Password, Job::UploadTree},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "work/out");
        fs::remove_all(remote());
        fs::create_directories(remote());
        fs::permissions(remote(), fs::perms::all);
        std::unique_ptr<PrivateAgent> agent;
        if (c.login == Login::Agent) {
            agent = std::make_unique<PrivateAgent>(dir.path(), ssh.server().keyPath);
            ASSERT_TRUE(agent->added);
            environment = {{"SSH_AUTH_SOCK", agent->socket()}};
        }
        const std::string big = bigText('r');
        const std::vector<std::string> tree{"tree/a.txt", "tree/sub/b.txt", "tree/sub/deeper/c.bin"};
        std::string target;
        switch (c.job) {
        case Job::Download:
            writeText(remote() / "big.bin", big);
            target = url("sftp", c.login, "big.bin");
            break;
        case Job::Resume:
            writeText(remote() / "big.bin", big);
            writeText(dir / "work/out/big.bin.part", big.substr(0, 100000));
            target = url("sftp", c.login, "big.bin");
            break;
        case Job::DownloadTree:
            for (const std::string &name : tree)
                writeText(remote() / name, name);
            target = url("sftp", c.login, "tree/");
            break;
        case Job::Upload:
            writeText(dir / "work/out/up.bin", big);
            target = url("sftpu", c.login, "up.bin");
            break;
        case Job::UploadTree:
            for (const std::string &name : tree)
                writeText(dir / "work/out" / name, name);
            target = url("sftpu", c.login, "tree");
            break;
        }
        const CliRun result = run({"--dir", "out", "--retry-time", "-1", target});
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        switch (c.job) {
        case Job::Download:
        case Job::Resume:
            EXPECT_EQ(readFile(dir / "work/out/big.bin"), big);
            EXPECT_FALSE(fs::exists(dir / "work/out/big.bin.part"));
            break;
        case Job::Upload:
            EXPECT_EQ(readFile(remote() / "up.bin"), big);
            break;
        case Job::DownloadTree:
        case Job::UploadTree:
            for (const std::string &name : tree) {
                const fs::path landed = c.job == Job::DownloadTree
                    ? dir / "work/out" / name.substr(5)
                    : remote() / name; // a folder URL fills the download folder itself
                EXPECT_EQ(readFile(landed), name) << name;
            }
            break;
        }
        environment.clear();
    }
}

// An unknown or changed host key ends the run at once with the key's fingerprint: nothing is written and
// known_hosts is left as it was. --trust-host-key takes that one key for the run.
TEST_F(CliSftpTest, HostKeysTheKnownHostsLackAreRefusedUnlessTrustedForTheRun)
{
    writeText(remote() / "f.txt", "payload");
    const std::string target = url("sftp", Login::Password, "f.txt");
    const std::string ed25519 = serverKeyFingerprint(ssh.server(), "ed25519");
    const std::string ecdsa = serverKeyFingerprint(ssh.server(), "ecdsa");
    ASSERT_FALSE(ed25519.empty());

    struct Case
    {
        const char *name;
        std::string knownHosts;
        std::vector<std::string> extra;
        bool done;
    };

    const std::string hostPattern = "[" + ssh.server().host + "]:" + std::to_string(ssh.server().port);
    // A key of the same type that the server does not have: the one known_hosts holds has "changed".
    ASSERT_EQ(runCommand("ssh-keygen -q -t ed25519 -N '' -f " + (dir / "other").string()), 0);
    const std::string otherKey = readFile(dir / "other.pub");
    const Case cases[] = {
        {"unknown", "", {}, false},
        {"changed", hostPattern + " " + otherKey.substr(0, otherKey.rfind(' ')) + "\n", {}, false},
        {"trusted for the run", "", {"--trust-host-key", "SHA256:placeholder"}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "work/out");
        writeText(ssh.knownHosts(), c.knownHosts);
        std::vector<std::string> args{"--dir", "out", "--retry-time", "0"};
        for (const std::string &arg : c.extra)
            args.push_back(arg == "SHA256:placeholder" ? ed25519 : arg);
        args.push_back(target);
        const CliRun result = run(args, std::chrono::seconds(30));
        EXPECT_EQ(readFile(ssh.knownHosts()), c.knownHosts);
        if (c.done) {
            EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
            EXPECT_EQ(readFile(dir / "work/out/f.txt"), "payload");
            continue;
        }
        EXPECT_EQ(result.exitCode, 3) << result.out << result.err;
        const std::string said = result.out + result.err;
        std::string lowered = said;
        for (char &ch : lowered)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(lowered.find("host key"), std::string::npos) << said;
        EXPECT_TRUE(said.find(ed25519) != std::string::npos || said.find(ecdsa) != std::string::npos) << said;
        EXPECT_FALSE(fs::exists(dir / "work/out/f.txt"));
        EXPECT_FALSE(fs::exists(dir / "work/out/f.txt.part"));
    }
}

// A key with a passphrase opens only through an agent here: the run ends at once (never asking), naming
// the key, instead of trying it again until the tries run out.
TEST_F(CliSftpTest, AKeyWithAPassphraseEndsTheRunNamingTheKeyForTheAgent)
{
    writeText(remote() / "f.txt", "payload");
    const std::string target = url("sftp", Login::Agent, "f.txt"); // no password, no agent
    ssh.installKey(ssh.server().lockedKeyPath, "id_ed25519");
    const CliRun result =
        run({"--dir", "out", "--retry-time", "0", "--keep-running", target}, std::chrono::seconds(30));
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_NE(
        (result.out + result.err).find("Key ~/.ssh/id_ed25519 needs its passphrase: add it to ssh-agent"),
        std::string::npos)
        << result.out << result.err;
    EXPECT_FALSE(fs::exists(dir / "work/out/f.txt"));
}

} // namespace
} // namespace bw::test
