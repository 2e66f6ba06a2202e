// SPDX-License-Identifier: MIT
// The FTP steps of a transfer job: log in when the site changes, find the remote directory, learn
// whether the name is a file or a directory, transfer or expand, and offer the session for manual use.
#include <filesystem>
#include <system_error>

#include "core/queue_list.h"
#include "core/url.h"
#include "engine/connection_lease.h"
#include "engine/local_copy.h"
#include "engine/local_path.h"
#include "engine/transfer_job.h"
#include "net/error_code.h"
#include "net/ftp_connection.h"
#include "net/ftp_session.h"
#include "platform/file_util.h"

namespace bw::engine {

namespace {

std::string withTrailingSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

} // namespace

bool TransferJob::openFtpSite(int id)
{
    if (m_selected.sameAs(m_open) && !m_open.host.empty() && !loginDropped())
        return true;
    m_open = m_selected;
    forgetRemoteDirectory(true);
    if (mayContinue(id)) {
        m_ftp->reset();
        status("Creating socket...");
        m_queue->setStatus(id, core::ItemStatus::StatusConnecting);
        if (!m_ftp->createAndBind(0)) {
            m_result = core::ItemStatus::StatusError;
            forgetSites();
        }
    }
    if (mayContinue(id)) {
        status("Connecting...");
        changed(0, id);
        net::FtpSite site;
        site.host = m_selected.host;
        site.port = m_selected.port;
        site.user = m_selected.user;
        site.password = m_selected.password;
        site.connectionId = id;
        site.security = m_selected.security;
        site.tls = tlsOptions();
        if (!m_ftp->login(site) && !stoppedMidway(id)) {
            const net::ErrorCode error = m_ftp->error();
            if (error.code() == net::UsernameInvalid)
                m_result = core::ItemStatus::StatusInvalidUser;
            else if (error.code() == net::PasswordInvalid)
                m_result = core::ItemStatus::StatusInvalidPassword;
            else if (error.is(net::CatProtocol, net::CertificateRejected))
                m_result = core::ItemStatus::StatusError; // retrying cannot make the certificate good
            else
                m_result = core::ItemStatus::StatusFailedToConnect;
            status(error.text());
            reportTlsFailure(id, error);
            forgetSites();
        }
    }
    return m_result == kNoResult;
}

bool TransferJob::loginDropped()
{
    if (!m_ftp->isControlDropped())
        return false;
    // The server ended the kept connection (idle time-out, 421): log in again rather than fail at PWD.
    status("The server closed the connection; logging in again...");
    m_ftp->close();
    return true;
}

void TransferJob::runFtpItem(int id)
{
    openFtpSite(id);
    if (!mayContinue(id))
        return;
    setBusy(true);
    m_queue->setStatus(id, core::ItemStatus::StatusSearching);

    const core::QueueItem item = core::snapshotOrVanished(*m_queue, id);
    const std::string &localPath = item.localPath;
    if (localPath.empty()) {
        runManualConnection(id);
        return;
    }

    const core::UrlScheme scheme = item.scheme;
    const std::string &path = item.path;
    std::string fileName = item.fileName;
    goToItemDirectory(id, scheme, path);

    std::int64_t listedSize = 0;
    std::error_code ignored;
    const bool upload = core::isFtpUploadScheme(scheme);
    if (mayContinue(id) && upload && std::filesystem::is_directory(localPath, ignored)) {
        // A directory upload: make the folder itself, so that empty folders arrive too.
        if (!fileName.empty() && !m_ftp->makeDirectory(fileName))
            m_ftp->clearError();
        fileName.clear();
    }
    if (mayContinue(id) && !upload && !fileName.empty())
        listedSize = learnRemoteName(id, item, fileName);

    if (mayContinue(id)) {
        m_queue->setStatus(id, core::ItemStatus::StatusTransferring);
        if (!fileName.empty())
            transferFile(id, scheme, fileName, localPath, listedSize);
        else if (!upload)
            expandRemoteDirectory(id);
        else
            expandLocalDirectory(id, localPath);
    }

    // A connection that was lent goes back where the login left us, unless it was given up. Otherwise
    // it stays in the item's folder, where the next item of the folder finds it.
    if (!item.automatic) {
        forgetRemoteDirectory(false);
        if (!m_stop && !m_open.host.empty() && !m_originalDirectory.empty()) {
            changed(0, id);
            restoreOriginalDirectory();
        }
    }
}

void TransferJob::forgetRemoteDirectory(bool newLogin)
{
    if (newLogin)
        m_originalDirectory.clear();
    m_remoteDirectory.reset();
    m_atOriginalDirectory = newLogin;
}

void TransferJob::restoreOriginalDirectory()
{
    status("Restoring the original working directory...");
    m_remoteDirectory.reset();
    if (m_ftp->changeDirectory(m_originalDirectory))
        m_atOriginalDirectory = true;
    else
        m_ftp->clearError();
}

void TransferJob::goToItemDirectory(int id, core::UrlScheme scheme, const std::string &path)
{
    if (m_remoteDirectory && *m_remoteDirectory == path)
        return; // the item before was in the same folder
    const bool absolute = !path.empty() && path[0] == '/';
    if (m_originalDirectory.empty()) {
        status("Getting current directory...");
        if (m_ftp->printWorkingDirectory(m_originalDirectory)) {
            m_atOriginalDirectory = true;
        } else {
            status(m_ftp->error().text());
            // The directory is only needed to come back to it, and an absolute path does not depend on it.
            m_originalDirectory.clear();
            if (absolute)
                m_ftp->clearError();
            else
                m_result = core::ItemStatus::StatusError;
        }
    } else if (!m_atOriginalDirectory && mayContinue(id)) {
        // A relative path starts where the login left us, and so does the relative retry of a refused
        // absolute one: from any other folder it could land in the wrong place.
        restoreOriginalDirectory();
    }
    if (!mayContinue(id))
        return;
    status("Changing directory...");
    m_remoteDirectory.reset();
    m_atOriginalDirectory = false;
    if (m_ftp->changeDirectory(path)) {
        m_remoteDirectory = path;
        return;
    }
    m_ftp->clearError();
    if (!core::isFtpUploadScheme(scheme)) {
        m_result = core::ItemStatus::StatusError;
        return;
    }
    makeRemoteDirectories(path);
    if (m_result == kNoResult)
        m_remoteDirectory = path;
}

std::int64_t TransferJob::learnRemoteName(int id, const core::QueueItem &item, std::string &fileName)
{
    const bool listedFile = item.listedSize >= 0;
    if (!listedFile && !item.listedDirectory)
        return inspectRemoteName(id, fileName);
    // The parent's listing already told what the entry is: no listing of its own name. Only the first
    // attempt trusts it; a retry asks the server again.
    m_queue->clearListing(id);
    if (item.listedDirectory) {
        if (enterListedDirectory(item.path, fileName))
            return 0;
        return inspectRemoteName(id, fileName);
    }
    if (item.listedSize > 0)
        return item.listedSize;
    // A listed size of 0 is an empty file or a line without a size: the server tells which.
    std::int64_t sizeBytes = 0;
    status("Getting file size...");
    if (m_ftp->fileSize(fileName, sizeBytes))
        return sizeBytes;
    if (!m_ftp->clearErrorUnlessStopped())
        return 0;
    return inspectRemoteName(id, fileName);
}

bool TransferJob::enterListedDirectory(const std::string &path, std::string &fileName)
{
    m_remoteDirectory.reset();
    if (!m_ftp->changeDirectory(fileName)) {
        m_ftp->clearError();
        return false;
    }
    status("File is a directory.");
    // The folder's own files will find the connection there.
    m_remoteDirectory = withTrailingSlash(path) + fileName + "/";
    fileName.clear();
    return true;
}

void TransferJob::makeRemoteDirectories(const std::string &path)
{
    std::string rest = path;
    if (rest.starts_with("/")) {
        if (!m_ftp->changeDirectory("/")) {
            m_result = core::ItemStatus::StatusError;
            return;
        }
    }
    rest.erase(0, std::min(rest.find_first_not_of('/'), rest.size()));
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string component = rest.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        if (component.empty())
            continue;
        if (m_ftp->changeDirectory(component))
            continue;
        m_ftp->clearError();
        if (!m_ftp->makeDirectory(component) || !m_ftp->changeDirectory(component)) {
            status(m_ftp->error().text());
            m_result = core::ItemStatus::StatusError;
            return;
        }
    }
}

std::int64_t TransferJob::inspectRemoteName(int id, std::string &fileName)
{
    const bool passive = core::snapshotOrVanished(*m_queue, id).passive;
    status("Getting listing...");
    changed(0, id);
    if (!m_ftp->list(fileName, true, passive)) {
        m_ftp->clearError();
        return 0;
    }
    status("Parsing listing...");
    // Listing a directory by name lists its content, so an entry of another name, or none at all for
    // an empty directory, means "directory" as much as a directory entry does: changing into it tells.
    const bool anyEntry = m_ftp->parseNextEntry("*");
    const bool namedEntry = anyEntry && m_ftp->entryName() == fileName;
    if (namedEntry && !m_ftp->entryIsDirectory())
        return m_ftp->entrySize();
    m_remoteDirectory.reset();
    if (m_ftp->changeDirectory(fileName)) {
        status("File is a directory.");
        fileName.clear();
        return 0;
    }
    m_ftp->clearError();
    if (namedEntry)
        return m_ftp->entrySize();
    return sizeOfListedFile(fileName);
}

std::int64_t TransferJob::sizeOfListedFile(const std::string &fileName)
{
    // A server that lists the whole folder whatever the argument may show the name further down.
    if (m_ftp->parseNextEntry(fileName) && !m_ftp->entryIsDirectory())
        return m_ftp->entrySize();
    // Neither a listed file nor a directory: retrying or uploading for a ratio site cannot help.
    status("No such file on the server: " + fileName);
    m_result = core::ItemStatus::StatusMissingTarget;
    return 0;
}

bool TransferJob::localCopyNeedsTransfer(const std::string &localPath, std::int64_t listedSize)
{
    switch (compareLocalCopy(localPath, listedSize)) {
    case LocalCopy::Partial:
        return true;
    case LocalCopy::Complete:
        status("Local file is already complete.");
        return false;
    case LocalCopy::Longer:
        status(localCopyLongerText(localPath, platform::fileSize(localPath), listedSize));
        m_result = core::ItemStatus::StatusTransferFailed;
        return false;
    }
    return true;
}

void TransferJob::transferFile(int id, core::UrlScheme scheme, const std::string &fileName,
    const std::string &localPath, std::int64_t listedSize)
{
    const bool download = !core::isFtpUploadScheme(scheme);
    const bool passive = core::snapshotOrVanished(*m_queue, id).passive;
    if (download) {
        status(receivingText(fileName, localPath));
        createLocalDirectories(localPath);
    } else {
        status(transmittingText(localPath, fileName));
    }
    // Resuming appends from the local length: a local file as long as the listed one is done, and a
    // longer one is no copy of it.
    const bool needed = !download || localCopyNeedsTransfer(localPath, listedSize);
    if (m_result != kNoResult)
        return;
    m_queue->transferStarted(id);
    const bool done = !needed
        || (download ? m_ftp->download(localPath, fileName, true, passive, listedSize, true)
                     : m_ftp->upload(localPath, fileName, true, passive));
    if (done) {
        if (download) {
            status("File retrieved.");
        } else {
            status("File sent.");
            m_queue->markRatioRecheck(m_open.host, m_open.port, m_open.user);
        }
        if (!core::snapshotOrVanished(*m_queue, id).automatic)
            lendSession(id);
        m_result = core::ItemStatus::StatusFinished;
        changed(1, id);
        m_ftp->setObserver(&TransferJob::onConnectionEvent, &m_context);
    } else if (!stoppedMidway(id)) {
        const net::ErrorCode error = m_ftp->error();
        status(error.text());
        reportTlsFailure(id, error);
        m_result = core::ItemStatus::StatusTransferFailed;
        // A site that refuses downloads until something is uploaded refuses the RETR itself, on a live
        // connection; a connection that dropped mid-transfer is no refusal, and neither is a refused STOR.
        if (download && error.is(net::CatProtocol, net::PermissionDenied) && m_ftp->isConnected()) {
            m_result = core::ItemStatus::StatusRatioNeedsUpload;
            m_queue->setStatus(id, core::ItemStatus::StatusRatioActive);
            changed(0, id); // shown while the job turns to the site's upload
        } else {
            forgetSites();
        }
    }
    m_queue->transferEnded(id);
}

void TransferJob::runManualConnection(int id)
{
    forgetRemoteDirectory(false); // the browser may change the folder
    if (!core::snapshotOrVanished(*m_queue, id).automatic)
        lendSession(id);
    // Stopped while the connection was out: the request stays queued (Idle) rather than complete.
    if (stoppedMidway(id)) {
        m_ftp->setObserver(&TransferJob::onConnectionEvent, &m_context);
        return;
    }
    const core::ItemStatus itemStatus = core::snapshotOrVanished(*m_queue, id).status;
    if (itemStatus == core::ItemStatus::StatusFailedManualConnection) {
        m_result = core::ItemStatus::StatusFailedManualConnection;
        forgetSites();
    } else if (itemStatus == core::ItemStatus::StatusReconnectAfterTransfers) {
        m_result = core::ItemStatus::StatusReconnectAfterTransfers;
    } else {
        m_result = core::ItemStatus::StatusManualConnectionComplete;
    }
    m_ftp->setObserver(&TransferJob::onConnectionEvent, &m_context);
}

void TransferJob::lendSession(int id)
{
    if (!m_timing.leases)
        return;
    const core::QueueItem item = core::snapshotOrVanished(*m_queue, id);
    net::FtpSessionOptions options;
    options.passive = item.passive;
    options.security = m_open.security;
    options.tls = tlsOptions();
    options.timeoutSeconds = item.timeout;
    const net::RemoteSite site{m_open.host, m_open.port, m_open.user, m_open.password, id};
    const auto session = std::make_shared<net::FtpSession>(m_ftp, options);
    // From here the connection reports to the session, never to this job: a holder that keeps it past
    // the job's end must not reach the job's context.
    session->setObserver(nullptr, nullptr);
    m_queue->setStatus(id, core::ItemStatus::StatusInactiveManualConnection);
    const std::shared_ptr<ConnectionLease> lease = m_timing.leases->offer(id, session, site);
    {
        std::lock_guard lock{m_jobLock};
        m_lease = lease;
    }
    // A stop that came before the lease was on offer found nothing to recall.
    if (stopRequested())
        lease->recall(net::StopByEngine);
    changed(0, id);
    const LeaseOutcome outcome = lease->wait(m_timing.leaseRecallBound);
    m_timing.leases->remove(lease);
    {
        std::lock_guard lock{m_jobLock};
        m_lease.reset();
        // The holder kept the connection past the bound: it is its to close now, never this job's.
        if (outcome.end == LeaseEnd::Abandoned)
            m_ftp = std::make_shared<net::FtpConnection>();
    }
    if (outcome.end == LeaseEnd::Returned)
        m_queue->setStatus(id, core::ItemStatus{outcome.status});
    // A new connection has no login yet: the next item logs in afresh.
    if (outcome.end == LeaseEnd::Abandoned)
        forgetSites();
    // A browser that stopped its own transfer may leave that stop on the connection: the job takes it
    // back deliberately before it goes on. A stop of the job or of the item itself stays.
    else if (!stopRequested() && !core::snapshotOrVanished(*m_queue, id).abortRequested)
        m_ftp->clearStop();
    m_ftp->setObserver(&TransferJob::onConnectionEvent, &m_context);
}

} // namespace bw::engine
