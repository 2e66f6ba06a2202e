// SPDX-License-Identifier: MIT
#include "net/ssh_connection.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/socket_connection.h"
#include "net/ssh_config_file.h"
#include "platform/socket_errors.h"

namespace bw::net {

namespace {

constexpr const char *kAesGcmFirst =
    "aes128-gcm@openssh.com,aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,"
    "aes256-ctr,aes192-ctr,aes128-ctr";

} // namespace

std::string sshHomeFolder()
{
    if (const char *home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd *entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

SshEndpoint sshEndpointFor(
    const std::string &host, int port, const std::string &user, const std::string &home)
{
    const SshHostConfig config = readSshHostConfigFile(home + "/.ssh/config", host, home);
    SshEndpoint endpoint;
    endpoint.host = config.hostName.empty() ? host : config.hostName;
    // A site that names no port (or the standard one) takes the file's.
    endpoint.port = (port <= 0 || port == 22) && config.port > 0 ? config.port : (port > 0 ? port : 22);
    endpoint.user = user.empty() ? config.user : user;
    if (endpoint.user.empty()) {
        if (const passwd *entry = ::getpwuid(::getuid()); entry && entry->pw_name)
            endpoint.user = entry->pw_name;
    }
    endpoint.identityFiles = config.identityFiles;
    return endpoint;
}

bool processorHasAes()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.starts_with("flags"))
            return line.find(" aes ") != std::string::npos || line.ends_with(" aes");
    }
    return false;
}

SshConnection::SshConnection() = default;

SshConnection::~SshConnection()
{
    close();
}

bool SshConnection::open(const SshEndpoint &endpoint, const SshConnectRules &rules)
{
    close();
    clearError();
    if (!connectSocket(endpoint, rules))
        return false;
    if (!configure(endpoint, rules))
        return false;
    if (m_stop.isSet())
        return failBroken();
    beginCall(rules.timeoutSeconds);
    const int connected = ssh_connect(m_session);
    endCall();
    if (connected != SSH_OK)
        return fail(ConnectFailed);
    m_hostKey = checkHostKey(m_session, rules.knownHostsPath, rules.trustedFingerprint);
    if (m_hostKey.verdict == HostKeyVerdict::Known)
        return true;
    ErrorCode record{CatProtocol, CertificateRejected};
    record.setDetail(m_hostKey.message);
    setError(record);
    return false;
}

bool SshConnection::connectSocket(const SshEndpoint &endpoint, const SshConnectRules &rules)
{
    SocketConnection socket{&m_stop};
    socket.setConnectTimeoutSeconds(rules.timeoutSeconds);
    socket.setResolver(rules.resolver);
    socket.setProxy(rules.proxy);
    if (!socket.connect(endpoint.host, endpoint.port)) {
        setError(socket.error());
        return false;
    }
    // libssh gets a duplicate, which it closes when it likes (after a failed write, for one); the
    // original stays here until close(), so a stop's shutdown always reaches this socket and never
    // one that reused the number.
    const int fd = ::fcntl(socket.tcpStream().fd(), F_DUPFD_CLOEXEC, 0);
    const int libsshFd = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (libsshFd < 0) {
        if (fd >= 0)
            ::close(fd);
        ErrorCode record;
        record.setSocketError(platform::socketErrorFromErrno(errno));
        setError(record);
        return false;
    }
    m_libsshFd = libsshFd;
    // libssh sets TCP_NODELAY only on sockets it opens itself. Without it, each small request waits
    // for the delayed ACK of the one before (40 ms on Linux): a tree of small files crawls.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    struct stat info
    {};

    m_socketInode = ::fstat(fd, &info) == 0 ? info.st_ino : 0;
    std::lock_guard lock{m_socketLock};
    m_socketFd = fd;
    return true;
}

bool SshConnection::configure(const SshEndpoint &endpoint, const SshConnectRules &rules)
{
    m_session = ssh_new();
    int fd = m_libsshFd;
    if (!m_session)
        return fail(ConnectFailed, "libssh could not make a session");
    const int no = 0;
    const int yes = 1;
    const long timeout = rules.timeoutSeconds > 0 ? rules.timeoutSeconds : 30;
    bool ok = ssh_options_set(m_session, SSH_OPTIONS_FD, &fd) == 0
        && ssh_options_set(m_session, SSH_OPTIONS_HOST, endpoint.host.c_str()) == 0
        && ssh_options_set(m_session, SSH_OPTIONS_PORT, &endpoint.port) == 0
        && ssh_options_set(m_session, SSH_OPTIONS_USER, endpoint.user.c_str()) == 0
        && ssh_options_set(m_session, SSH_OPTIONS_KNOWNHOSTS, rules.knownHostsPath.c_str()) == 0
        && ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &no) == 0
        && ssh_options_set(m_session, SSH_OPTIONS_NODELAY, &yes) == 0
        && ssh_options_set(m_session, SSH_OPTIONS_TIMEOUT, &timeout) == 0;
    if (ok && processorHasAes()) {
        ok = ssh_options_set(m_session, SSH_OPTIONS_CIPHERS_C_S, kAesGcmFirst) == 0
            && ssh_options_set(m_session, SSH_OPTIONS_CIPHERS_S_C, kAesGcmFirst) == 0;
    }
    ssh_set_blocking(m_session, 1);
    return ok || fail(ConnectFailed);
}

void SshConnection::close()
{
    m_watchdog.disarm();
    if (m_session) {
        if (!m_broken && !m_stop.isSet() && ssh_is_connected(m_session)) {
            beginCall(2);
            ssh_disconnect(m_session);
            endCall();
        }
        ssh_free(m_session);
        m_session = nullptr;
    }

    // libssh leaves a descriptor it was given open, except when it closed it after an error: close
    // it only while the number still stands for this socket.
    struct stat info
    {};

    if (m_libsshFd >= 0 && ::fstat(m_libsshFd, &info) == 0 && info.st_ino == m_socketInode)
        ::close(m_libsshFd);
    m_libsshFd = -1;
    {
        std::lock_guard lock{m_socketLock};
        if (m_socketFd >= 0)
            ::close(m_socketFd);
        m_socketFd = -1;
    }
    m_broken = false;
    m_hostKey = {};
}

int SshConnection::socketFd() const
{
    std::lock_guard lock{m_socketLock};
    return m_socketFd;
}

void SshConnection::requestStop(int code)
{
    m_stop.request(code);
    shutdownSocket();
}

void SshConnection::shutdownSocket()
{
    // shutdown, not close: libssh keeps its descriptor and sees the end in its next poll.
    std::lock_guard lock{m_socketLock};
    if (m_socketFd >= 0)
        ::shutdown(m_socketFd, SHUT_RDWR);
}

void SshConnection::beginCall(int timeoutSeconds)
{
    m_watchdog.arm(std::chrono::seconds(timeoutSeconds > 0 ? timeoutSeconds : 30));
}

bool SshConnection::fail(std::int32_t code, const std::string &detail)
{
    if (m_stop.isSet() || m_watchdog.expired())
        return failBroken();
    ErrorCode record{CatProtocol, code};
    record.setDetail(!detail.empty() ? detail : (m_session ? ssh_get_error(m_session) : std::string()));
    setError(record);
    return false;
}

bool SshConnection::failBroken()
{
    m_broken = true;
    ErrorCode record;
    if (m_stop.isSet())
        record.set(CatStop, m_stop.code());
    else if (m_watchdog.expired())
        record.setSocketError(platform::socketErrorFromErrno(ETIMEDOUT));
    else
        record.set(CatProtocol, ServerShutdown);
    if (m_session && !record.isStop())
        record.setDetail(ssh_get_error(m_session));
    setError(record);
    return false;
}

void SshConnection::markBroken()
{
    m_broken = true;
    shutdownSocket();
}

ErrorCode SshConnection::error() const
{
    std::lock_guard lock{m_errorLock};
    return m_error;
}

void SshConnection::setError(ErrorCode record)
{
    std::lock_guard lock{m_errorLock};
    m_error = std::move(record);
}

void SshConnection::clearError()
{
    std::lock_guard lock{m_errorLock};
    m_error = {};
}

} // namespace bw::net
