// SPDX-License-Identifier: MIT
// One worker of the queue: a thread that takes items from the queue list one after another (items of
// the site it is logged in to first), connects, transfers, expands directories into new items, offers its
// logged-in remote session to the manual browser through a lease, and ends every item with a final status.
// The scheduler's thread starts it and calls checkItem, isBusy and abort concurrently.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/queue_item.h"
#include "core/worker_thread.h"
#include "engine/checksum_check.h"
#include "engine/local_path.h"
#include "engine/netrc.h"
#include "engine/part_file.h"
#include "engine/remote_session_factory.h"
#include "engine/segment_state.h"
#include "net/error_code.h"
#include "net/host_addresses.h"
#include "net/remote_session.h"
#include "net/tls_stream.h"

namespace bw::core {
class QueueList;
struct Selection;
struct Url;
} // namespace bw::core

namespace bw::net {
class SpeedLimits;
class HttpConnection;
struct ConnectionNotification;
} // namespace bw::net

namespace bw::engine {

class CertificateTrustStore;
class KeyPassphrases;
class KeyringService;
class ConnectionLease;
class LeaseBoard;
class RemoteTreeBounds;
class SegmentedHttpDownload;
enum class SegmentedOutcome;
class ProxyChoice;

struct TransferJobTiming
{
    // Where the job offers its logged-in session for manual browsing; borrowed, may be null (then a
    // manual item ends at once, as if nobody browsed it).
    LeaseBoard *leases = nullptr;
    // How long a job that must stop waits for the manual browser to give its session back.
    std::chrono::milliseconds leaseRecallBound{10000};
    // Redirects followed in one chain before the item fails.
    int maxRedirects = 20;
    // Accept any TLS certificate (a run the user started with --insecure).
    bool tlsInsecure = false;
    // The one SSH host key ("SHA256:...") accepted for this run although the known hosts lack it.
    std::string trustedHostKey{};
    // The key passphrases the user typed in the window this run; borrowed, null for none.
    const KeyPassphrases *keyPassphrases = nullptr;
    // The certificates the user trusted although they do not verify; borrowed, may be null.
    const CertificateTrustStore *trustStore = nullptr;
    // The speed limits all jobs share; null for none. Borrowed: outlives every job.
    net::SpeedLimits *speedLimits = nullptr;
    // The case the user wants new local names in, read at every folder a job expands; null for none.
    // Borrowed: outlives every job.
    const std::atomic<FileNameConversion> *fileNameConversion = nullptr;
    // What a download does with a local name another file has, read at every download; null for Rename.
    // Borrowed: outlives every job.
    const std::atomic<IfFileExists> *ifFileExists = nullptr;
    // Whether a finished download takes the server's modification time; null for yes. Borrowed.
    const std::atomic<bool> *keepServerTimes = nullptr;
    // Replaces the name look-up of the remote sessions in tests; null for the system's.
    net::HostResolver resolver = nullptr;
    // How deep queued folder trees expand, and which folders they expanded; null for no bound. Borrowed.
    RemoteTreeBounds *treeBounds = nullptr;
    // Where the passwords that queued URLs leave out are kept; borrowed, null for none.
    KeyringService *keyring = nullptr;
    // The most connections one big download uses at once (1: one); null for one. Borrowed.
    const std::atomic<int> *maxSegments = nullptr;
    // Which proxy each connection takes; null for none. Borrowed: outlives every job.
    const ProxyChoice *proxies = nullptr;
    // The .netrc that gives logins to URLs without one; empty for none.
    std::string netrcPath = defaultNetrcPath();
};

// Status lines with the item's names; the redirect target of `location` resolved against `request`
// (a path or a bare name is taken relative to the request's server and folder); the name of a listed
// entry as it is appended to its parent's URL.
std::string receivingText(const std::string &fileName, const std::string &localPath);
std::string transmittingText(const std::string &localPath, const std::string &fileName);
std::string resolveRedirect(const core::Url &request, const std::string &location);
std::string childUrlName(const std::string &name);
// The local names of a folder's entries in the case the user chose. A name the conversion leaves as it
// is stays; one whose converted name another entry has keeps the server's name; one left with neither
// gets "" (it is skipped). Names of the same folder never share a local name.
std::vector<std::string> convertedLocalNames(
    const std::vector<std::string> &names, FileNameConversion conversion);

class TransferJob : public core::WorkerThread
{
public:
    explicit TransferJob(TransferJobTiming timing = {});
    ~TransferJob() override;

    // Called on the job's thread when it has taken its first item and when it ends. Set before start.
    void setOnEvent(std::function<void()> onEvent) { m_onEvent = std::move(onEvent); }

    // Stores the queue and starts the thread.
    bool start(core::QueueList &queue);
    // Sets the stop request and aborts the session and the HTTP connection with `code` (15, 101 or 1025).
    void abort(int code);
    // Aborts with 101 when the current item asks to stop. Called by the scheduler's thread.
    void checkItem();
    bool isBusy() const;
    int currentItem() const;

    // The run loop is over: the thread ends within a few instructions.
    bool hasEnded() const { return m_ended.load(); }

    // The job has asked the queue for its first item (found or not).
    bool hasTakenFirstItem() const { return m_tookFirstItem.load(); }

protected:
    int Run() override;

private:
    // The item's result while it has none yet.
    static constexpr core::ItemStatus kNoResult = core::ItemStatus::StatusUnknown;

    struct Site
    {
        std::string host;
        std::string user;
        std::string password;
        int port = 0;
        // A plain connection never serves an item that asked for TLS, nor the other way round.
        SessionProtocol protocol = SessionProtocol::None;
        net::ProxyRoute proxy{}; // the route every connection of the login takes

        // The password belongs to a login as much as the user: an item whose password is wrong must
        // never ride on another item's login.
        bool sameAs(const Site &other) const
        {
            return host == other.host && user == other.user && password == other.password
                && port == other.port && protocol == other.protocol && proxy == other.proxy;
        }
    };

    // The context the session and the HTTP connection report through: the queue and the item being
    // worked on.
    struct EventContext
    {
        core::QueueList *queue = nullptr;
        std::atomic<int> itemId{0};
    };

    static void onConnectionEvent(void *context, const net::ConnectionNotification &notification);

    void status(const std::string &text);
    void changed(int saveFlag, int itemId);
    void setBusy(bool busy);
    void setCurrentItem(int id);
    // True when the job must stop with the item; the result then becomes Idle and the sites are
    // forgotten. Made before every connection step, the transfer and the directory work.
    bool stopCheck(int id);
    // After a failed step: true (and the item ends Idle) when the failure came from a stop request.
    bool stoppedMidway(int id);
    // The item has no result yet and the job need not stop.
    bool mayContinue(int id);
    void forgetSites();
    void takeSelection(const core::Selection &selection);
    // The route to the selected site for a URL of `scheme`.
    net::ProxyRoute proxyRouteFor(core::UrlScheme scheme) const;
    // The next item, own site first; none once the job stops.
    core::Selection selectFollowing();
    // After a redirect: the next item of the target's site, the target first of all when it is the first.
    core::Selection selectRedirectTarget();
    // Ends the item with `result`; a stop by the user leaves it Stopped instead, ready to go again.
    void finishItem(int id, core::ItemStatus result);
    // Ends the item now with "Error": waiting cannot change what went wrong.
    void failForGood();

    // The TLS options of the next connection to the selected site.
    net::TlsOptions tlsOptions() const;
    // Shows why a failure the user can act on happened (a refused certificate or host key, a key that
    // needs its passphrase) in the status line and keeps it with item `id`, so its row, its commands and
    // the runner's summary say why it ended.
    void keepFailureDetail(int id, const net::ErrorCode &error);

    void runHttpItem(int id);
    // Downloads `target` into `writePath`, answering the server's login challenges; a login the server
    // refuses ends the item "Invalid password". True when the file arrived.
    bool downloadWithLogin(
        int id, const core::QueueItem &item, const std::string &writePath, const std::string &target);
    // The URL's login, or the .netrc's for a URL without one (any warning goes to the status line).
    SiteLogin loginOfSelectedSite(bool allowNetrcDefault);
    core::ItemStatus queueRedirect(int id, const std::string &location);
    int redirectDepth(int id) const;
    static void forgetRedirectDepth(int id);

    bool hasUnsafeFtpText(int id) const;
    void runRemoteItem(int id);
    core::Selection endRemoteItem(int id);
    bool openRemoteSite(int id);
    // Makes `session` the job's (null for none); abort() reaches it from then on. Job thread only.
    void replaceSession(std::shared_ptr<net::RemoteSession> session);
    // The job's session reports to the job again (after it was lent).
    void observeSession();
    // Leaves the server and lets the session go: the next item logs in afresh.
    void dropSession();
    // True (and the session closed) when the kept login was dropped by the server.
    bool loginDropped();
    void makeRemoteDirectories(const std::string &path);
    // The connection's folder is no longer known (and after a new login, nor is the login's folder).
    void forgetRemoteDirectory(bool newLogin);
    void restoreOriginalDirectory();
    // Changes into the item's folder unless the connection is already there; learns the login's folder
    // first, and goes back to it before a relative path.
    void goToItemDirectory(int id, core::UrlScheme scheme, const std::string &path);
    // What the name is, from the parent's listing when it told (a file of known size, or a directory the
    // connection then changes into), else from the server: returns the size of a file; for a directory
    // changes into it and empties fileName.
    std::int64_t learnRemoteName(int id, const core::QueueItem &item, std::string &fileName);
    // Changes into an entry its parent's listing showed as a directory; false (nothing changed) when
    // that fails, so the name is inspected as usual.
    bool enterListedDirectory(const std::string &path, std::string &fileName);
    // Lists the name: returns its size for a file; for a directory changes into it and empties fileName.
    std::int64_t inspectRemoteName(int id, std::string &fileName);
    // After a listing without an entry of that name first: the size of the file of that name further
    // down, or 0 with the item ended "Missing target".
    std::int64_t sizeOfListedFile(const std::vector<net::ListingEntry> &entries, const std::string &fileName);
    // Where a download to `localPath` writes; the status line and the item's result when it does not run
    // (the local file complete, kept by Skip, or a partial file that cannot be used).
    PartFile preparePartFile(int id, const std::string &localPath, std::int64_t listedSize);
    // After the download: gives the finished file its name. False when the download failed, or (item
    // failed) when the file could not take a name.
    // `serverTime`: the file's modification time on the server (seconds since 1970), which the finished
    // file takes unless the user turned that off.
    bool placePartFile(
        PartFile &part, bool transferred, std::optional<std::int64_t> serverTime = std::nullopt);
    // The modification time the server gives for `fileName` when the finished download is to take it.
    std::optional<std::int64_t> remoteModificationTime(const std::string &fileName);

    bool keepsServerTimes() const { return !m_timing.keepServerTimes || m_timing.keepServerTimes->load(); }

    // Fetches a big file on several connections when the server allows: the outcome, or nothing when
    // the download is to run the usual way (on m_http, connected again).
    std::optional<bool> downloadInSegments(int id, const PartFile &part, const std::string &target);
    // Runs one segmented download from `resume` (nothing: from the start), reachable by abort().
    SegmentedOutcome runSegments(int id, SegmentedHttpDownload &download, std::optional<SegmentState> resume);
    // A segmented download that ended Complete or Failed, as the item's result and status line.
    bool endSegments(int id, const PartFile &part, const SegmentedHttpDownload &download, bool complete);
    void transferFile(int id, core::UrlScheme scheme, const std::string &fileName,
        const std::string &localPath, std::int64_t listedSize);
    // Downloads into the part file, hashing what is written, and compares the file with the user's
    // checksum or the server's; a mismatch is fetched once more, then fails the item (m_result set).
    bool getChecked(int id, const std::string &fileName, const PartFile &part, std::int64_t listedSize);
    // Before a resume, where the server hashes byte ranges: empties a part the server's file disagrees with.
    void comparePartWithServer(const std::string &fileName, const std::string &partPath);
    // Uploads, then compares the stored file with the local one where the server offers HASH.
    bool putChecked(int id, const std::string &localPath, const std::string &fileName);
    // The HTTP download of `target` into the part file, checked like getChecked against the user's
    // checksum or the response's Repr-Digest or Digest.
    bool downloadHttpChecked(
        int id, const core::QueueItem &item, const PartFile &part, const std::string &target);
    // Judges a downloaded file: logs a match; on a mismatch keeps the file aside and returns true, the
    // second time in a row with the item failed. False when it may stay (verified or unchecked).
    bool refutedByChecksum(int id, const PartFile &part, const std::optional<ExpectedChecksum> &expected,
        const std::string &actualHex);
    void runManualConnection(int id);
    // Offers the logged-in session for item `id` and waits until the browser gives it back (or the job
    // stops); the item is left with the browser's status.
    void lendSession(int id);
    void expandRemoteDirectory(int id);
    void expandLocalDirectory(int id, const std::string &localPath);

    struct ListedEntry
    {
        bool directory = false;
        std::int64_t sizeBytes = -1;
    };

    // `listed`: what the parent's listing said of the entry, or nullptr when it said nothing.
    // `localName`: the entry's name on disk, when it differs from its name on the server.
    void addChild(int id, const std::string &url, const std::string &localPath, const std::string &name,
        const ListedEntry *listed = nullptr, const std::string *localName = nullptr);

    const TransferJobTiming m_timing;
    // Made for each new login, by the job thread under m_jobLock (abort reads it there); null between.
    std::shared_ptr<net::RemoteSession> m_session;
    std::unique_ptr<net::HttpConnection> m_http;
    core::QueueList *m_queue = nullptr;
    EventContext m_context;
    std::function<void()> m_onEvent; // set before the thread starts
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_tookFirstItem{false};
    std::atomic<int> m_stopCode{0}; // the code of the last abort(), for a session made after it

    mutable std::mutex m_jobLock;
    std::shared_ptr<ConnectionLease> m_lease; // guarded by m_jobLock; the one on offer, recalled by abort
    SegmentedHttpDownload *m_segmented = nullptr; // guarded by m_jobLock; the running one, stopped by abort
    bool m_busy = false; // guarded by m_jobLock
    int m_currentItem = 0; // guarded by m_jobLock

    // Run-loop state, job thread only.
    Site m_selected;
    Site m_open;
    net::SessionItemSettings m_itemSettings; // the current item's
    core::ItemStatus m_result = kNoResult;
    int m_redirectTarget = 0; // the item a redirect of the current HTTP item queued
    bool m_endsForGood = false; // m_result is one that waiting cannot change: the item is not retried
    bool m_stop = false;
    // The open session's folders: where the login left it (empty until known), and the item
    // path it was last changed into (none when unknown or changed since).
    std::string m_originalDirectory;
    std::optional<std::string> m_remoteDirectory;
    bool m_atOriginalDirectory = false;
    bool m_mismatchSeen = false; // the current download failed its check once already
};

} // namespace bw::engine
