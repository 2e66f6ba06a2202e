// SPDX-License-Identifier: MIT
#include "net/sftp_session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include "core/url.h"
#include "net/sftp_path.h"
#include "net/sftp_transfer.h"

namespace bw::net {

namespace {

// A URL without a user reads as the anonymous FTP login: over SSH it means "no user given", so
// ~/.ssh/config or the local account names one, and there is no password.
RemoteSite withoutAnonymousLogin(const RemoteSite &site)
{
    if (site.user != core::kAnonymousUser || site.password != core::kDefaultAnonymousPassword)
        return site;
    RemoteSite named = site;
    named.user.clear();
    named.password.clear();
    return named;
}

struct AttributesFree
{
    void operator()(sftp_attributes attributes) const { sftp_attributes_free(attributes); }
};

using UniqueAttributes = std::unique_ptr<sftp_attributes_struct, AttributesFree>;

std::string knownHostsPath(const std::string &home)
{
    return home + "/.ssh/known_hosts";
}

ListingEntry entryFrom(const sftp_attributes_struct &attributes)
{
    ListingEntry entry;
    entry.name = attributes.name ? attributes.name : "";
    entry.isDirectory = attributes.type == SSH_FILEXFER_TYPE_DIRECTORY;
    entry.isLink = attributes.type == SSH_FILEXFER_TYPE_SYMLINK;
    entry.sizeBytes = static_cast<std::int64_t>(attributes.size);
    if (attributes.flags & SSH_FILEXFER_ATTR_ACMODTIME)
        entry.time = EntryTime::fromUtc(static_cast<std::time_t>(attributes.mtime));
    return entry;
}

} // namespace

SftpSession::SftpSession(SftpSessionOptions options)
    : m_options(std::move(options))
{
    if (m_options.home.empty())
        m_options.home = sshHomeFolder();
}

SftpSession::~SftpSession()
{
    close();
}

bool SftpSession::connect(const RemoteSite &site)
{
    // A stop that came before the login stays: only clearStop takes it back.
    close();
    m_connection.clearError();
    m_connectionId = site.connectionId != 0 ? site.connectionId : m_connectionId;
    const RemoteSite named = withoutAnonymousLogin(site);
    const SshEndpoint endpoint = sshEndpointFor(named.host, named.port, named.user, m_options.home);
    status("Connecting to " + endpoint.host + " port " + std::to_string(endpoint.port)
        + (site.proxy.isSet() ? " via proxy " + site.proxy.address() : std::string()) + "...");
    const SshConnectRules rules{knownHostsPath(m_options.home), m_options.trustedHostKey,
        m_options.timeoutSeconds, m_options.resolver, site.proxy};
    const bool opened = m_connection.open(endpoint, rules);
    m_hostKey = m_connection.hostKey();
    if (!opened) {
        m_connection.close();
        return false;
    }
    status("Host key " + m_hostKey.fingerprint + " (" + m_hostKey.keyType + ") is known");
    SshLoginRules login{named.password, m_options.home, endpoint.identityFiles, m_options.passphrase,
        &m_passphrases, m_options.timeoutSeconds};
    if (!sshLogin(m_connection, login)) {
        m_connection.close();
        return false;
    }
    if (m_connection.stopSignal().isSet()) {
        m_connection.failBroken();
        close();
        return false;
    }
    m_connection.beginCall(m_options.timeoutSeconds);
    m_sftp = sftp_new(m_connection.handle());
    const bool started = m_sftp && sftp_init(m_sftp) == SSH_OK;
    char *home = started ? sftp_canonicalize_path(m_sftp, ".") : nullptr;
    m_connection.endCall();
    if (!home) {
        m_connection.fail(ConnectFailed, "The server offers no SFTP");
        close();
        return false;
    }
    m_limits = sftpQueryLimits(m_connection, m_sftp, m_options.timeoutSeconds);
    m_loginFolder = home;
    m_currentFolder = home;
    ssh_string_free_char(home);
    status("Logged in as " + endpoint.user);
    return true;
}

bool SftpSession::isLoggedIn() const
{
    return m_sftp != nullptr && m_connection.isOpen();
}

bool SftpSession::isDroppedByServer()
{
    if (!isLoggedIn())
        return false;
    // An idle SSH connection has nothing to say: anything readable is its end (or a goodbye before it).
    pollfd idle{m_connection.socketFd(), POLLIN, 0};
    char byte = 0;
    if (::poll(&idle, 1, 0) != 1 || ((idle.revents & POLLIN) && ::recv(idle.fd, &byte, 1, MSG_PEEK) > 0))
        return false;
    close();
    return true;
}

void SftpSession::applyItemSettings(const SessionItemSettings &settings)
{
    setConnectionId(settings.connectionId);
    setTimeoutSeconds(settings.timeoutSeconds);
    setSpeedLimits(settings.speedLimits);
    setMinSpeedGrace(settings.minSpeedGraceSeconds);
}

void SftpSession::clearStop()
{
    m_sessionStopped.store(false);
    m_connection.stopSignal().clear();
}

bool SftpSession::beginOperation()
{
    if (m_connection.stopSignal().isSet())
        return m_connection.failBroken();
    if (!isLoggedIn()) {
        m_connection.setError(ErrorCode{CatProtocol, ServerShutdown});
        return false;
    }
    m_connection.clearError();
    return true;
}

std::string SftpSession::remotePath(const std::string &name) const
{
    return sftpResolvePath(m_currentFolder, m_loginFolder, name);
}

bool SftpSession::requestFailed(const std::string &what)
{
    const int status = m_sftp ? sftp_get_error(m_sftp) : SSH_FX_FAILURE;
    if (m_connection.stopSignal().isSet() || !ssh_is_connected(m_connection.handle()))
        return m_connection.failBroken();
    ErrorCode record{CatProtocol, PermissionDenied};
    record.setStatus(status);
    const char *reason = status == SSH_FX_NO_SUCH_FILE ? "No such file or folder"
        : status == SSH_FX_PERMISSION_DENIED           ? "Permission denied"
        : status == SSH_FX_FILE_ALREADY_EXISTS         ? "It exists already"
                                                       : ssh_get_error(m_connection.handle());
    record.setDetail(what + ": " + reason);
    m_connection.setError(record);
    return false;
}

bool SftpSession::currentFolder(std::string &path)
{
    path = m_currentFolder;
    return isLoggedIn();
}

bool SftpSession::list(const std::string &path, std::vector<ListingEntry> &entries)
{
    entries.clear();
    if (!beginOperation())
        return false;
    const std::string folder = remotePath(path);
    m_connection.beginCall(m_options.timeoutSeconds);
    sftp_dir dir = sftp_opendir(m_sftp, folder.c_str());
    if (!dir) {
        m_connection.endCall();
        return requestFailed("List " + folder);
    }
    while (const UniqueAttributes attributes{sftp_readdir(m_sftp, dir)}) {
        m_connection.beginCall(m_options.timeoutSeconds);
        const std::string_view name = attributes->name ? attributes->name : "";
        if (name != "." && name != "..")
            entries.push_back(entryFrom(*attributes));
    }
    const bool complete = sftp_dir_eof(dir);
    sftp_closedir(dir);
    m_connection.endCall();
    return complete || requestFailed("List " + folder);
}

bool SftpSession::changeFolder(const std::string &path)
{
    if (!beginOperation())
        return false;
    const std::string folder = remotePath(path);
    const UniqueAttributes attributes{statPath(folder)};
    if (!attributes)
        return requestFailed("Change to " + folder);
    if (attributes->type != SSH_FILEXFER_TYPE_DIRECTORY) {
        ErrorCode record{CatProtocol, PermissionDenied};
        record.setDetail("Change to " + folder + ": not a folder");
        m_connection.setError(record);
        return false;
    }
    m_currentFolder = folder;
    return true;
}

bool SftpSession::pathRequest(
    const char *what, const std::string &name, const std::function<int(const char *path)> &request)
{
    if (!beginOperation())
        return false;
    const std::string path = remotePath(name);
    m_connection.beginCall(m_options.timeoutSeconds);
    const bool done = request(path.c_str()) == SSH_OK;
    m_connection.endCall();
    return done || requestFailed(what + (" " + path));
}

bool SftpSession::makeFolder(const std::string &name)
{
    return pathRequest(
        "Make folder", name, [this](const char *path) { return sftp_mkdir(m_sftp, path, 0755); });
}

bool SftpSession::removeFile(const std::string &name)
{
    return pathRequest("Delete", name, [this](const char *path) { return sftp_unlink(m_sftp, path); });
}

bool SftpSession::removeFolder(const std::string &name)
{
    return pathRequest("Remove folder", name, [this](const char *path) { return sftp_rmdir(m_sftp, path); });
}

bool SftpSession::rename(const std::string &from, const std::string &to)
{
    if (!beginOperation())
        return false;
    const std::string source = remotePath(from);
    const std::string target = remotePath(to);
    m_connection.beginCall(m_options.timeoutSeconds);
    const bool done = sftp_rename(m_sftp, source.c_str(), target.c_str()) == SSH_OK;
    m_connection.endCall();
    return done || requestFailed("Rename " + source);
}

sftp_attributes SftpSession::statPath(const std::string &path)
{
    m_connection.beginCall(m_options.timeoutSeconds);
    sftp_attributes attributes = sftp_stat(m_sftp, path.c_str());
    m_connection.endCall();
    return attributes;
}

bool SftpSession::fileSize(const std::string &name, std::int64_t &sizeBytes)
{
    sizeBytes = 0;
    if (!beginOperation())
        return false;
    const std::string path = remotePath(name);
    const UniqueAttributes attributes{statPath(path)};
    if (!attributes)
        return requestFailed("Size of " + path);
    sizeBytes = static_cast<std::int64_t>(attributes->size);
    return true;
}

bool SftpSession::modificationTime(const std::string &name, std::int64_t &unixSeconds)
{
    if (!beginOperation())
        return false;
    const std::string path = remotePath(name);
    const UniqueAttributes attributes{statPath(path)};
    if (!attributes)
        return requestFailed("Time of " + path);
    if ((attributes->flags & SSH_FILEXFER_ATTR_ACMODTIME) == 0)
        return false;
    unixSeconds = static_cast<std::int64_t>(attributes->mtime);
    return true;
}

bool SftpSession::get(const std::string &remoteName, const std::string &localPath,
    std::int64_t knownSizeBytes, bool resume, const TransferProgress &progress)
{
    if (!beginOperation())
        return false;
    beginTransfer();
    const SftpTransferRules rules{
        m_options.timeoutSeconds, m_speedLimits, m_minSpeedKBps, m_minSpeedGraceSeconds, progress, m_limits};
    const bool done =
        sftpDownload(m_connection, m_sftp, remotePath(remoteName), localPath, knownSizeBytes, resume, rules);
    endTransfer();
    return done;
}

bool SftpSession::put(
    const std::string &localPath, const std::string &remoteName, const TransferProgress &progress)
{
    if (!beginOperation())
        return false;
    beginTransfer();
    const SftpTransferRules rules{
        m_options.timeoutSeconds, m_speedLimits, m_minSpeedKBps, m_minSpeedGraceSeconds, progress, m_limits};
    const bool done = sftpUpload(m_connection, m_sftp, localPath, remotePath(remoteName), rules);
    endTransfer();
    return done;
}

void SftpSession::beginTransfer()
{
    std::lock_guard lock{m_transferLock};
    m_transferRunning = true;
    m_transferStopped = false;
}

void SftpSession::endTransfer()
{
    // A stop meant for the transfer alone ends with it; one for the whole session stays.
    std::lock_guard lock{m_transferLock};
    if (m_transferStopped && !m_sessionStopped.load())
        m_connection.stopSignal().clear();
    m_transferRunning = false;
    m_transferStopped = false;
}

void SftpSession::requestStop(int code)
{
    m_sessionStopped.store(true);
    m_connection.requestStop(code);
}

bool SftpSession::isStopRequested() const
{
    return m_connection.stopSignal().isSet();
}

void SftpSession::stopTransfer(int code)
{
    std::lock_guard lock{m_transferLock};
    if (!m_transferRunning)
        return;
    m_transferStopped = true;
    m_connection.stopSignal().request(code);
}

ErrorCode SftpSession::error() const
{
    return m_connection.error();
}

bool SftpSession::clearErrorUnlessStopped()
{
    if (isStopRequested()) {
        m_connection.setError(ErrorCode{CatStop, m_connection.stopSignal().code()});
        return false;
    }
    m_connection.clearError();
    return true;
}

void SftpSession::setObserver(ConnectionObserver observer, void *context)
{
    m_observer = observer;
    m_observerContext = context;
}

void SftpSession::status(const std::string &text)
{
    if (m_observer)
        m_observer(m_observerContext, ConnectionNotification{NotifyStatus, 0, 0, text});
}

void SftpSession::disconnect(int reason)
{
    if (isLoggedIn())
        status("Disconnecting (" + std::to_string(reason) + ")");
    close();
}

void SftpSession::close()
{
    if (m_sftp) {
        // sftp_free waits for nothing, but frees the channel, which sends its close when connected.
        m_connection.beginCall(2);
        sftp_free(m_sftp);
        m_connection.endCall();
        m_sftp = nullptr;
    }
    m_connection.close();
}

bool trustHostKey(const RemoteSite &site, const std::string &expectedSha256, std::string &error,
    const SftpSessionOptions &options)
{
    const std::string home = options.home.empty() ? sshHomeFolder() : options.home;
    const RemoteSite named = withoutAnonymousLogin(site);
    const SshEndpoint endpoint = sshEndpointFor(named.host, named.port, named.user, home);
    SshConnection connection;
    const SshConnectRules rules{knownHostsPath(home), {}, options.timeoutSeconds, options.resolver};
    if (connection.open(endpoint, rules)) {
        error = "The host key is known already";
        return false;
    }
    const HostKeyCheck &check = connection.hostKey();
    if (check.verdict != HostKeyVerdict::Unknown) {
        error = check.verdict == HostKeyVerdict::Changed ? check.message : connection.error().detail();
        if (error.empty())
            error = connection.error().text();
        return false;
    }
    if (check.fingerprint != expectedSha256) {
        error = "The server's host key is now " + check.fingerprint + ", not " + expectedSha256;
        return false;
    }
    return appendKnownHost(connection.handle(), knownHostsPath(home), error);
}

} // namespace bw::net
