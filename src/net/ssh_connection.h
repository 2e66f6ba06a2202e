// SPDX-License-Identifier: MIT
// One SSH connection for the SFTP session: the TCP connect (every address of the host, IPv6 too), the
// key exchange, the host key check against ~/.ssh/known_hosts, and the stop and time-out of libssh's
// blocking calls. One thread drives it; requestStop and stopSignal().request may come from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <libssh/libssh.h>

#include "net/error_code.h"
#include "net/host_addresses.h"
#include "net/proxy_route.h"
#include "net/ssh_host_keys.h"
#include "net/ssh_watchdog.h"
#include "net/stop_signal.h"

namespace bw::net {

// Where and as whom to log in, after ~/.ssh/config had its say.
struct SshEndpoint
{
    std::string host; // the host name libssh and known_hosts see
    int port = 22;
    std::string user;
    std::vector<std::string> identityFiles; // from the configuration, before the default keys
};

struct SshConnectRules
{
    std::string knownHostsPath;
    std::string trustedFingerprint; // accepted for this run besides known_hosts
    int timeoutSeconds = 30;
    HostResolver resolver = nullptr;
    ProxyRoute proxy{}; // the socket libssh gets goes through it (kind None: straight)
};

// The user's home: $HOME, else the password database's entry.
std::string sshHomeFolder();
// The site as ~/.ssh/config (under `home`) rewrites it; the site's user wins over the file's.
SshEndpoint sshEndpointFor(
    const std::string &host, int port, const std::string &user, const std::string &home);
// True when the processor has AES instructions, so AES-GCM is the fastest cipher.
bool processorHasAes();

class SshConnection
{
public:
    SshConnection();
    ~SshConnection();
    SshConnection(const SshConnection &) = delete;
    SshConnection &operator=(const SshConnection &) = delete;

    // Connects, runs the key exchange and checks the host key (its verdict in hostKey()). False with
    // the error recorded; an unknown or changed key leaves the connection open for the caller to
    // inspect (trusting a key needs it) until close().
    bool open(const SshEndpoint &endpoint, const SshConnectRules &rules);
    void close();

    ssh_session handle() const { return m_session; }

    bool isOpen() const { return m_session != nullptr && !m_broken; }

    const HostKeyCheck &hostKey() const { return m_hostKey; }

    // The socket, for a wait in poll() beside the stop descriptor; -1 when closed.
    int socketFd() const;

    // Any thread: the sticky stop that also ends the connection at once (the socket is shut down).
    void requestStop(int code);

    StopSignal &stopSignal() { return m_stop; }

    const StopSignal &stopSignal() const { return m_stop; }

    // Around each blocking libssh call: the time-out (seconds) starts, and the call's outcome is read.
    // A call must not start after a stop: libssh would wait its whole time-out on the shut socket.
    void beginCall(int timeoutSeconds);

    void endCall() { m_watchdog.disarm(); }

    // Records why a libssh call failed: the stop or time-out that ended it, else `code` with libssh's
    // text (or `detail` when given). The connection is unusable after a stop or time-out. Returns false.
    bool fail(std::int32_t code, const std::string &detail = {});
    // The session-level outcome after a stop, a time-out or a lost socket; false always.
    bool failBroken();
    // Gives the connection up (its socket shut) and keeps the error recorded before.
    void markBroken();

    ErrorCode error() const;
    void setError(ErrorCode record);
    void clearError();

private:
    bool connectSocket(const SshEndpoint &endpoint, const SshConnectRules &rules);
    bool configure(const SshEndpoint &endpoint, const SshConnectRules &rules);
    void shutdownSocket();

    ssh_session m_session = nullptr; // driving thread
    bool m_broken = false; // a stop or time-out shut the socket; driving thread
    HostKeyCheck m_hostKey;
    StopSignal m_stop;
    mutable std::mutex m_socketLock;
    int m_socketFd = -1; // guarded by m_socketLock; owned, libssh has a duplicate
    int m_libsshFd = -1; // the duplicate libssh uses; driving thread
    unsigned long m_socketInode = 0; // tells whether m_libsshFd still is this socket
    mutable std::mutex m_errorLock;
    ErrorCode m_error; // guarded by m_errorLock
    SshWatchdog m_watchdog{[this] {
        shutdownSocket();
    }};
};

} // namespace bw::net
