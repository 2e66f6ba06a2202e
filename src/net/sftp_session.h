// SPDX-License-Identifier: MIT
// The SFTP implementation of RemoteSession over libssh: ~/.ssh/config, known_hosts, the agent and
// key files, a current folder of its own, and pipelined transfers. One thread drives it; requestStop
// and stopTransfer may come from any thread and end any wait at once.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <libssh/sftp.h>

#include "net/remote_session.h"
#include "net/sftp_transfer.h"
#include "net/speed_limits.h"
#include "net/ssh_connection.h"
#include "net/ssh_login.h"

namespace bw::net {

// What only SFTP needs to know besides the site.
struct SftpSessionOptions
{
    int timeoutSeconds = 30; // each request, and a transfer that moves nothing
    // "SHA256:..." (as the unknown-key error shows it): that one key is accepted for this session.
    std::string trustedHostKey;
    // Asked once per key file for its passphrase; null: such a key needs the agent.
    SshPassphraseSource passphrase;
    std::string home; // the folder whose .ssh is read; empty: $HOME
    HostResolver resolver = nullptr; // tests
};

class SftpSession final : public RemoteSession
{
public:
    explicit SftpSession(SftpSessionOptions options = {});
    ~SftpSession() override;

    bool connect(const RemoteSite &site) override;
    bool isLoggedIn() const override;
    bool isDroppedByServer() override;
    void applyItemSettings(const SessionItemSettings &settings) override;
    bool currentFolder(std::string &path) override;
    bool list(const std::string &path, std::vector<ListingEntry> &entries) override;
    bool changeFolder(const std::string &path) override;
    bool makeFolder(const std::string &name) override;
    bool removeFile(const std::string &name) override;
    bool removeFolder(const std::string &name) override;
    bool rename(const std::string &from, const std::string &to) override;
    bool fileSize(const std::string &name, std::int64_t &sizeBytes) override;
    bool modificationTime(const std::string &name, std::int64_t &unixSeconds) override;
    bool get(const std::string &remoteName, const std::string &localPath, std::int64_t knownSizeBytes,
        bool resume, const TransferProgress &progress) override;
    bool put(const std::string &localPath, const std::string &remoteName,
        const TransferProgress &progress) override;
    void requestStop(int code) override;
    bool isStopRequested() const override;
    void clearStop() override;
    void stopTransfer(int code) override;
    ErrorCode error() const override;
    bool clearErrorUnlessStopped() override;
    void setObserver(ConnectionObserver observer, void *context) override;
    void disconnect(int reason) override;
    void close() override;

    // The settings a transfer job gives its connection; they apply from the next operation.
    void setConnectionId(int id) { m_connectionId = id; }

    void setTimeoutSeconds(int seconds) { m_options.timeoutSeconds = seconds > 0 ? seconds : 30; }

    // Shared limits (borrowed; null for none) and this session's own minimum speed (kB/s, 0: the
    // shared one) with its grace in seconds.
    void setSpeedLimits(SpeedLimits *limits) { m_speedLimits = limits; }

    void setMinSpeed(int kBps) { m_minSpeedKBps = kBps; }

    void setMinSpeedGrace(int seconds) { m_minSpeedGraceSeconds = seconds; }

    void setTrustedHostKey(std::string fingerprint) { m_options.trustedHostKey = std::move(fingerprint); }

    // The host key verdict of the last connect (its fingerprint and type for a "trust" dialog).
    const HostKeyCheck &hostKey() const { return m_hostKey; }

    // The request sizes the server announced at login (or the safe default).
    const SftpLimits &limits() const { return m_limits; }

    // The folder the login started in.
    const std::string &loginFolder() const { return m_loginFolder; }

private:
    bool beginOperation();
    std::string remotePath(const std::string &name) const;
    // Records a failed SFTP request: the stop or lost connection behind it, else the server's status.
    bool requestFailed(const std::string &what);
    // One request on one path, which libssh answers with SSH_OK or an error.
    bool pathRequest(
        const char *what, const std::string &name, const std::function<int(const char *path)> &request);
    void status(const std::string &text);
    // The attributes of `path` (a remote path) within the time-out; null when the request failed. The
    // caller frees them.
    sftp_attributes statPath(const std::string &path);
    void beginTransfer();
    void endTransfer();

    SftpSessionOptions m_options;
    SshConnection m_connection;
    sftp_session m_sftp = nullptr; // driving thread
    HostKeyCheck m_hostKey;
    SftpLimits m_limits;
    std::string m_loginFolder = "/";
    std::string m_currentFolder = "/";
    std::map<std::string, std::string> m_passphrases; // per key file, for the next login
    int m_connectionId = 0;
    SpeedLimits *m_speedLimits = nullptr;
    int m_minSpeedKBps = 0;
    int m_minSpeedGraceSeconds = 0;
    ConnectionObserver m_observer = nullptr;
    void *m_observerContext = nullptr;
    std::mutex m_transferLock;
    bool m_transferRunning = false; // guarded by m_transferLock
    bool m_transferStopped = false; // guarded by m_transferLock
    std::atomic<bool> m_sessionStopped{false};
};

// Connects to `site` and appends its host key to ~/.ssh/known_hosts (under options.home) as OpenSSH
// does, when the key is unknown and its fingerprint is `expectedSha256` (the one the user was shown).
// A changed key is never replaced: the old line must be removed first. False with `error` set.
bool trustHostKey(const RemoteSite &site, const std::string &expectedSha256, std::string &error,
    const SftpSessionOptions &options = {});

} // namespace bw::net
