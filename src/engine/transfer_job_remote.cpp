// SPDX-License-Identifier: MIT
// The remote-session steps of a transfer job: log in when the site changes, find the remote directory,
// learn whether the name is a file or a directory, transfer or expand, and offer the session for manual
// use.
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/queue_list.h"
#include "core/url.h"
#include "engine/connection_lease.h"
#include "engine/local_path.h"
#include "engine/remote_session_factory.h"
#include "engine/transfer_job.h"
#include "net/error_code.h"

namespace bw::engine {

namespace {

std::string withTrailingSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

} // namespace

bool TransferJob::openRemoteSite(int id)
{
    if (m_selected.sameAs(m_open) && !m_open.host.empty() && !loginDropped())
        return true;
    m_open = m_selected;
    forgetRemoteDirectory(true);
    if (mayContinue(id)) {
        status("Creating socket...");
        m_queue->setStatus(id, core::ItemStatus::StatusConnecting);
        if (m_session)
            m_session->close();
        replaceSession(makeRemoteSession(m_selected.protocol,
            {tlsOptions(), m_timing.resolver, m_timing.trustedHostKey, m_timing.keyPassphrases}));
        if (!m_session) {
            m_result = core::ItemStatus::StatusError;
            forgetSites();
        }
    }
    if (mayContinue(id)) {
        status("Connecting...");
        changed(0, id);
        // A .netrc's "default" entry is meant for FTP: over SSH only a machine of its own counts.
        const SiteLogin login = loginOfSelectedSite(m_selected.protocol != SessionProtocol::Sftp);
        const net::RemoteSite site{
            m_selected.host, m_selected.port, login.user, login.password, id, m_selected.proxy};
        if (!m_session->connect(site) && !stoppedMidway(id)) {
            const net::ErrorCode error = m_session->error();
            if (error.code() == net::UsernameInvalid)
                m_result = core::ItemStatus::StatusInvalidUser;
            else if (error.code() == net::PasswordInvalid)
                m_result = core::ItemStatus::StatusInvalidPassword;
            else if (error.is(net::CatProtocol, net::CertificateRejected)
                || error.is(net::CatProtocol, net::TlsFailed))
                failForGood(); // retrying cannot make the certificate good, nor the server speak TLS
            else
                m_result = core::ItemStatus::StatusFailedToConnect;
            status(error.text());
            keepFailureDetail(id, error);
            forgetSites();
        }
    }
    return m_result == kNoResult;
}

bool TransferJob::loginDropped()
{
    if (!m_session || !m_session->isDroppedByServer())
        return false;
    // The server ended the kept login (idle time-out, 421): log in again rather than fail at PWD.
    status("The server closed the connection; logging in again...");
    return true;
}

void TransferJob::runRemoteItem(int id)
{
    openRemoteSite(id);
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
    const bool upload = core::isUploadScheme(scheme);
    if (mayContinue(id) && upload && std::filesystem::is_directory(localPath, ignored)) {
        // A directory upload: make the folder itself, so that empty folders arrive too.
        if (!fileName.empty() && !m_session->makeFolder(fileName))
            m_session->clearErrorUnlessStopped();
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
    if (m_session->changeFolder(m_originalDirectory))
        m_atOriginalDirectory = true;
    else
        m_session->clearErrorUnlessStopped();
}

void TransferJob::goToItemDirectory(int id, core::UrlScheme scheme, const std::string &path)
{
    if (m_remoteDirectory && *m_remoteDirectory == path)
        return; // the item before was in the same folder
    const bool absolute = !path.empty() && path[0] == '/';
    if (m_originalDirectory.empty()) {
        status("Getting current directory...");
        if (m_session->currentFolder(m_originalDirectory)) {
            m_atOriginalDirectory = true;
        } else {
            status(m_session->error().text());
            // The directory is only needed to come back to it, and an absolute path does not depend on it.
            m_originalDirectory.clear();
            if (absolute)
                m_session->clearErrorUnlessStopped();
            else if (!stoppedMidway(id))
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
    if (m_session->changeFolder(path)) {
        m_remoteDirectory = path;
        return;
    }
    // A folder change refused for a stop leaves the item to be tried again, not failed.
    if (stoppedMidway(id))
        return;
    m_session->clearErrorUnlessStopped();
    if (!core::isUploadScheme(scheme)) {
        m_result = core::ItemStatus::StatusError;
        return;
    }
    makeRemoteDirectories(path);
    if (m_result == kNoResult)
        m_remoteDirectory = path;
    else
        stoppedMidway(id);
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
    if (m_session->fileSize(fileName, sizeBytes))
        return sizeBytes;
    if (!m_session->clearErrorUnlessStopped())
        return 0;
    return inspectRemoteName(id, fileName);
}

bool TransferJob::enterListedDirectory(const std::string &path, std::string &fileName)
{
    m_remoteDirectory.reset();
    if (!m_session->changeFolder(fileName)) {
        m_session->clearErrorUnlessStopped();
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
        if (!m_session->changeFolder("/")) {
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
        if (m_session->changeFolder(component))
            continue;
        m_session->clearErrorUnlessStopped();
        if (!m_session->makeFolder(component) || !m_session->changeFolder(component)) {
            status(m_session->error().text());
            m_result = core::ItemStatus::StatusError;
            return;
        }
    }
}

std::int64_t TransferJob::inspectRemoteName(int id, std::string &fileName)
{
    status("Getting listing...");
    changed(0, id);
    std::vector<net::ListingEntry> entries;
    if (!m_session->list(fileName, entries)) {
        m_session->clearErrorUnlessStopped();
        return 0;
    }
    status("Parsing listing...");
    // Listing a directory by name lists its content, so an entry of another name, or none at all for
    // an empty directory, means "directory" as much as a directory entry does: changing into it tells.
    const bool namedEntry = !entries.empty() && entries.front().name == fileName;
    if (namedEntry && !entries.front().isDirectory)
        return entries.front().sizeBytes;
    m_remoteDirectory.reset();
    if (m_session->changeFolder(fileName)) {
        status("File is a directory.");
        fileName.clear();
        return 0;
    }
    m_session->clearErrorUnlessStopped();
    if (namedEntry)
        return entries.front().sizeBytes;
    return sizeOfListedFile(entries, fileName);
}

std::int64_t TransferJob::sizeOfListedFile(
    const std::vector<net::ListingEntry> &entries, const std::string &fileName)
{
    // A server that lists the whole folder whatever the argument may show the name further down.
    const auto named = std::find_if(entries.begin(), entries.end(),
        [&](const net::ListingEntry &entry) { return entry.name == fileName; });
    if (named != entries.end() && !named->isDirectory)
        return named->sizeBytes;
    // Neither a listed file nor a directory: retrying or uploading for a ratio site cannot help.
    status("No such file on the server: " + fileName);
    m_result = core::ItemStatus::StatusMissingTarget;
    return 0;
}

void TransferJob::transferFile(int id, core::UrlScheme scheme, const std::string &fileName,
    const std::string &localPath, std::int64_t listedSize)
{
    const bool download = !core::isUploadScheme(scheme);
    if (download) {
        status(receivingText(fileName, localPath));
        createLocalDirectories(localPath);
    } else {
        status(transmittingText(localPath, fileName));
    }
    // A download writes (and resumes) its own part file, which takes the local name once complete.
    PartFile part = download ? preparePartFile(id, localPath, listedSize) : PartFile();
    const bool needed = !download || part.start() == PartFile::Start::Transfer;
    if (m_result != kNoResult)
        return;
    m_queue->transferStarted(id);
    bool done = !needed
        || (download ? getChecked(id, fileName, part, listedSize) : putChecked(id, localPath, fileName));
    if (download)
        done = placePartFile(part, done, needed && done ? remoteModificationTime(fileName) : std::nullopt);
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
        observeSession();
    } else if (m_result == kNoResult && !stoppedMidway(id)) {
        const net::ErrorCode error = m_session->error();
        status(error.text());
        keepFailureDetail(id, error);
        m_result = core::ItemStatus::StatusTransferFailed;
        // A site that refuses downloads until something is uploaded refuses the download itself, on a
        // live login; a login that dropped mid-transfer is no refusal, and neither is a refused upload.
        if (download && m_session->isGetRefusedUntilUpload()) {
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
        observeSession();
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
    observeSession();
}

void TransferJob::lendSession(int id)
{
    if (!m_timing.leases)
        return;
    const net::RemoteSite site{m_open.host, m_open.port, m_open.user, m_open.password, id, m_open.proxy};
    const std::shared_ptr<net::RemoteSession> session = m_session;
    // From here the session reports to its holder, never to this job: a holder that keeps it past the
    // job's end must not reach the job's context.
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
        // The holder kept the session past the bound: it is its to close now, never this job's.
        if (outcome.end == LeaseEnd::Abandoned)
            m_session.reset();
    }
    if (outcome.end == LeaseEnd::Returned)
        m_queue->setStatus(id, core::ItemStatus{outcome.status});
    // Without a session the next item logs in afresh.
    if (outcome.end == LeaseEnd::Abandoned)
        forgetSites();
    // A browser that stopped its own transfer may leave that stop on the session: the job takes it
    // back deliberately before it goes on. A stop of the job or of the item itself stays.
    else if (!stopRequested() && !core::snapshotOrVanished(*m_queue, id).abortRequested)
        m_session->clearStop();
    observeSession();
}

} // namespace bw::engine
