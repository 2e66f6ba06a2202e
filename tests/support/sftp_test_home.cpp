// SPDX-License-Identifier: MIT
#include "support/sftp_test_home.h"

#include <cstdlib>

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "net/ssh_host_keys.h"

namespace bw::test {

namespace fs = std::filesystem;

SftpTestHome::SftpTestHome()
    : m_server(sftpServer())
{
    fs::create_directories(ssh());
    fs::permissions(ssh(), fs::perms::owner_all);
}

void SftpTestHome::trustServer()
{
    fs::copy_file(m_server.knownHostsPath, knownHosts(), fs::copy_options::overwrite_existing);
}

void SftpTestHome::installKey(const std::string &source, const std::string &name)
{
    const fs::path target = ssh() / name;
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    fs::copy_file(source + ".pub", target.string() + ".pub", fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
}

net::SftpSessionOptions SftpTestHome::options() const
{
    net::SftpSessionOptions options;
    options.home = path().string();
    options.timeoutSeconds = 10;
    return options;
}

net::RemoteSite SftpTestHome::site(bool withPassword) const
{
    return {m_server.host, m_server.port, m_server.user, withPassword ? m_server.password : "", 1};
}

std::string publicKeyFingerprint(const std::string &pubPath)
{
    ssh_key key = nullptr;
    if (ssh_pki_import_pubkey_file(pubPath.c_str(), &key) != SSH_OK)
        return {};
    std::string fingerprint = net::sshKeyFingerprint(key);
    ssh_key_free(key);
    return fingerprint;
}

std::string serverKeyFingerprint(const SftpServer &server, const std::string &type)
{
    return publicKeyFingerprint(server.hostKeyFolder + "/host_" + type + ".pub");
}

int runCommand(const std::string &command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

PrivateAgent::PrivateAgent(const fs::path &folder, const std::string &key)
    : m_socket((folder / "agent.sock").string())
{
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::execlp("ssh-agent", "ssh-agent", "-D", "-a", m_socket.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 2000 && !fs::exists(m_socket); ++i)
        ::usleep(1000);
    ::setenv("SSH_AUTH_SOCK", m_socket.c_str(), 1);
    added = runCommand("ssh-add -q " + key + " 2>/dev/null") == 0;
}

PrivateAgent::~PrivateAgent()
{
    ::unsetenv("SSH_AUTH_SOCK");
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
}

SftpRelay::SftpRelay(int serverPort, Fault fault, std::int64_t afterBytes)
    : m_listenFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    , m_serverPort(serverPort)
    , m_fault(fault)
    , m_afterBytes(afterBytes)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::listen(m_listenFd, 4) == 0
        && ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

SftpRelay::~SftpRelay()
{
    m_stop.store(true);
    m_thread.join();
    ::close(m_listenFd);
}

void SftpRelay::run()
{
    pollfd waitAccept{m_listenFd, POLLIN, 0};
    while (!m_stop.load() && ::poll(&waitAccept, 1, 20) <= 0) {}
    if (m_stop.load())
        return;
    const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(m_serverPort));
    if (client < 0 || ::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(client);
        ::close(server);
        return;
    }
    std::int64_t fromServer = 0;
    char buffer[16384];
    while (!m_stop.load()) {
        pollfd ends[2] = {{client, POLLIN, 0}, {server, m_faulted.load() ? short{0} : short{POLLIN}, 0}};
        if (::poll(ends, 2, 20) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(ends[i].revents & (POLLIN | POLLHUP)))
                continue;
            const ssize_t got = ::read(ends[i].fd, buffer, sizeof buffer);
            if (got <= 0)
                m_stop.store(true);
            if (got <= 0 || m_faulted.load())
                continue; // a stalled relay swallows what the client still sends
            ::send(i == 0 ? server : client, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL);
            if (i == 1 && (fromServer += got) >= m_afterBytes) {
                m_faulted.store(true);
                if (m_fault == Fault::Cut)
                    m_stop.store(true);
            }
        }
    }
    ::close(client);
    ::close(server);
}

} // namespace bw::test
