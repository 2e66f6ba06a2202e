// SPDX-License-Identifier: MIT
// A private home folder for SFTP tests (its .ssh holds what the test puts there: known_hosts, keys,
// config), and a TCP relay to the test sshd that can cut or stall the connection on cue.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "net/sftp_session.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace bw::test {

class SftpTestHome
{
public:
    SftpTestHome();

    const std::filesystem::path &path() const { return m_dir.path(); }

    std::filesystem::path ssh() const { return m_dir.path() / ".ssh"; }

    std::filesystem::path knownHosts() const { return ssh() / "known_hosts"; }

    // known_hosts with the server's lines (every key type), or without any.
    void trustServer();
    // Copies a private key (and its .pub) to `name` in .ssh (0600, as ssh would want it).
    void installKey(const std::string &source, const std::string &name);

    net::SftpSessionOptions options() const;
    net::RemoteSite site(bool withPassword = true) const;

    const SftpServer &server() const { return m_server; }

private:
    SftpServer m_server;
    TempDir m_dir;
};

// "SHA256:..." of a public key file ("" when it cannot be read).
std::string publicKeyFingerprint(const std::string &pubPath);
// The server's host key fingerprint of `type` ("ed25519", "ecdsa").
std::string serverKeyFingerprint(const SftpServer &server, const std::string &type);
// Runs a shell command; its exit status.
int runCommand(const std::string &command);

// A private ssh-agent holding one key, for the time of a test; SSH_AUTH_SOCK points at it meanwhile.
class PrivateAgent
{
public:
    PrivateAgent(const std::filesystem::path &folder, const std::string &key);
    ~PrivateAgent();
    PrivateAgent(const PrivateAgent &) = delete;
    PrivateAgent &operator=(const PrivateAgent &) = delete;

    const std::string &socket() const { return m_socket; }

    bool added = false;

private:
    std::string m_socket;
    int m_pid = -1;
};

// Forwards one connection from a loopback port to the test sshd. Cuts it (both sides closed) or
// stalls it (nothing more forwarded) once `afterBytes` have come from the server.
class SftpRelay
{
public:
    enum class Fault
    {
        Cut,
        Stall,
    };

    SftpRelay(int serverPort, Fault fault, std::int64_t afterBytes);
    ~SftpRelay();
    SftpRelay(const SftpRelay &) = delete;
    SftpRelay &operator=(const SftpRelay &) = delete;

    int port() const { return m_port; }

    bool faulted() const { return m_faulted.load(); }

private:
    void run();

    int m_listenFd = -1;
    int m_serverPort;
    int m_port = 0;
    Fault m_fault;
    std::int64_t m_afterBytes;
    std::atomic<bool> m_faulted{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace bw::test
