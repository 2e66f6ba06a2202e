// SPDX-License-Identifier: MIT
// The manual browser's side of a lease: holds the session a job offers for an item and runs the
// browser's commands on it on a thread of its own, one after another, reporting through callbacks
// (called on that thread; they must not wait for the window). It is the only one to give the session
// back: when the window asks (the running transfer is stopped first), when the job recalls it, when the
// login was lost, and when it ends. Its methods are called on one owner thread; abortTransfer on any.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "engine/part_file.h"
#include "net/connection_notification.h"
#include "net/listing_parser.h"
#include "net/remote_session.h"

namespace bw::core {
class QueueList;
}

namespace bw::engine {

class ConnectionLease;
class LeaseBoard;

// One folder of the server as a refresh found it.
struct ManualListing
{
    std::string shownDirectory; // as the server named it ("/" when PWD failed), for the directory box
    std::string directory; // the same, beginning and ending with a separator
    std::vector<net::ListingEntry> entries; // "." and ".." included when the server lists them
};

// What the session tells the user in the log, besides the protocol traffic.
enum class ManualNotice
{
    ConnectionLost, // the login was lost; the session went back, its item failed
    TakenBack, // the job recalled the session
    TransferFailed, // `path` could not be moved; `aborted`, or `cause` says why
    PartialFileKept, // a failed download's file `path` could not be restored
};

struct ManualNoticeText
{
    ManualNotice notice = ManualNotice::ConnectionLost;
    std::string path;
    bool aborted = false;
    std::string cause;
};

struct ManualSessionEvents
{
    // Protocol traffic (NotifyCommandSent, NotifyReplyReceived, NotifyStatus).
    std::function<void(const net::ConnectionNotification &)> traffic;
    std::function<void(const ManualNoticeText &)> notice;
    std::function<void(const ManualListing &)> listingReady;
    std::function<void(int percent, std::int64_t doneBytes)> transferProgress;
    std::function<void(const std::string &name, bool completed)> transferFinished;
    // The session went back to its job, with `status` for its item.
    std::function<void(std::int32_t status)> detached;
    // After every queued command, run or skipped.
    std::function<void()> commandEnded;
};

class ManualSession
{
public:
    // Set by the window's Abort; the transfer it belongs to stops (or never starts).
    using AbortFlag = std::shared_ptr<std::atomic<bool>>;

    // `queue`, when given, gets the item's status before the session goes back, as the job reads it.
    ManualSession(LeaseBoard &board, core::QueueList *queue, ManualSessionEvents events);
    // Stops a running command, gives a held session back and ends the thread. A command cut short
    // leaves the login out of step with the server: its item then fails, so the job logs in afresh.
    ~ManualSession();
    ManualSession(const ManualSession &) = delete;
    ManualSession &operator=(const ManualSession &) = delete;

    // Takes the session offered for `itemId`; false when none is offered or a command is outstanding.
    bool attach(std::int32_t itemId);
    // Stops using the session but leaves it offered; its job waits for another holder.
    void leaveLent();
    // Gives the session back with `status` for its item: at once (true) when no command is queued or
    // running; otherwise a running transfer is stopped, the rest skipped, and `detached` follows.
    bool handBack(std::int32_t status);
    // While idle: a session that is no longer logged in goes back, its item failed (true).
    bool dropIfLost();
    // Stops the running transfer (any thread).
    void abortTransfer();
    // The program quits: the running download, unless already aborted, keeps its part file when it
    // stops, so that a queue item resumes it (any thread).
    void keepInterruptedDownload();

    bool isAttached() const;
    // Nothing queued and nothing running.
    bool isIdle() const;
    // The held session, or null; compare only, the session's thread drives it.
    std::shared_ptr<net::RemoteSession> session() const;
    std::size_t cachedListingCount() const;

    // Commands, queued in order; false when nothing is attached or a hand-back is under way. Names are
    // passed to the server as they are: the caller refuses ones that do not fit a command line.
    bool refresh(bool force);
    bool changeDirectory(const std::string &path);
    bool makeDirectory(const std::string &name);
    // Deletes each name as a file, or as a folder when that fails.
    bool remove(const std::vector<std::string> &names);
    bool rename(const std::string &from, const std::string &to);
    // Each ends with transferFinished. A download writes NAME.part and gives it the local name once
    // complete, by `ifExists` when that name is taken; a failed one leaves the local file as it was.
    bool download(const std::string &name, const std::string &localPath, std::uint64_t sizeBytes,
        AbortFlag abort, IfFileExists ifExists = IfFileExists::Overwrite);
    bool upload(const std::string &localPath, const std::string &name, AbortFlag abort);

private:
    struct Command
    {
        std::function<void(net::RemoteSession &)> run;
        std::function<void()> skip; // the command cannot run any more: nothing is attached
    };

    struct Transfer
    {
        bool download = false;
        std::string name;
        std::string localPath;
        std::uint64_t sizeBytes = 0;
        AbortFlag abort;
        IfFileExists ifExists = IfFileExists::Overwrite;
    };

    // The lock and the wake-up of the thread, shared with the recall callback of the held lease, which
    // may run after this object is gone.
    struct Wake
    {
        std::mutex mutex;
        std::condition_variable_any changed;
    };

    static void onTraffic(void *context, const net::ConnectionNotification &notification);
    bool enqueue(Command command);
    void tell(ManualNotice notice, const std::string &path = {}, bool aborted = false,
        const std::string &cause = {}) const;
    void runThread(std::stop_token stop);
    // Between commands: gives the session back when it is wanted or lost. True when it went back.
    bool handBackBetweenCommands(bool commandWaits);
    // Gives the session back unless somebody already did; either thread.
    bool giveBack(std::int32_t status);
    bool handBackWanted() const;
    // The session must go back or this object ends: the rest of a command is left out.
    bool mustStop() const;

    void runRefresh(net::RemoteSession &session, bool force);
    void runTransfer(net::RemoteSession &session, const Transfer &transfer);
    // The name command: `step` ran; a failure is forgotten unless it was a stop.
    static void forgetFailure(net::RemoteSession &session, bool succeeded);

    LeaseBoard &m_board;
    core::QueueList *const m_queue;
    const ManualSessionEvents m_events;
    const std::shared_ptr<Wake> m_wake = std::make_shared<Wake>();

    std::deque<Command> m_commands; // guarded by m_wake->mutex
    std::shared_ptr<ConnectionLease> m_lease; // guarded by m_wake->mutex
    std::shared_ptr<net::RemoteSession> m_session; // guarded by m_wake->mutex
    std::int32_t m_handBackStatus = 0; // guarded by m_wake->mutex; waits for the running command
    bool m_running = false; // guarded by m_wake->mutex
    AbortFlag m_transferAbort; // guarded by m_wake->mutex; the running transfer's
    AbortFlag m_keptDownload; // guarded by m_wake->mutex; the download whose part file stays
    std::map<std::string, std::vector<net::ListingEntry>> m_cache; // guarded by m_wake->mutex
    std::atomic<bool> m_ending{false}; // the destructor cuts the running command short

    std::jthread m_thread; // last: it starts after everything above and ends first
};

} // namespace bw::engine
