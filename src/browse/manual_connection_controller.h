// SPDX-License-Identifier: MIT
// Runs the remote browser's commands on a connection lent by a transfer job, on a thread of its own,
// one after another, and reports their results by signals: the window never waits on the server. It
// borrows the connection from the queue item and is the only one to give it back, also when the job
// asks for it (stop, item deleted): the running command is stopped first. Its methods are called on
// the GUI thread; its signals come from its own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <QMetaType>
#include <QObject>
#include <QString>

#include "browse/list_entry.h"

namespace bw::core {
class QueueList;
}

namespace bw::net {
class FtpConnection;
struct ConnectionNotification;
} // namespace bw::net

namespace bw::browse {

// One folder of the server as a refresh found it.
struct RemoteListing
{
    std::string shownDirectory; // as the server named it ("/" when PWD failed), for the directory box
    std::string directory; // the same, beginning and ending with a separator
    std::vector<CachedEntry> entries; // "." and ".." included when the server lists them
};

class ManualConnectionController : public QObject
{
    Q_OBJECT

public:
    // Set by the "File Transfer" window's Abort; the transfer it belongs to stops (or never starts).
    using AbortFlag = std::shared_ptr<std::atomic<bool>>;

    explicit ManualConnectionController(core::QueueList &queue, QObject *parent = nullptr);
    // Stops a running command, gives a held connection back and ends the thread.
    ~ManualConnectionController() override;

    // Borrows the connection lent to `itemId`; false when none is lent. Only while not busy.
    bool attach(std::int32_t itemId);
    // Stops using the connection but leaves it lent to its item, which waits for another browser.
    void leaveLent();
    // Gives the connection back, leaving `status` in the item. True when that happened at once; while
    // commands run, the running one is stopped (a transfer aborted) and the rest skipped, and
    // `detached` follows.
    bool handBack(std::int32_t status);
    // While not busy: a connection that is no longer logged in is given back, its item failed (true).
    bool dropIfLost();

    bool isAttached() const;

    // Commands were queued that have not ended yet (counted on the GUI thread, by their signals).
    bool isBusy() const { return m_outstanding > 0; }

    // The borrowed connection, or null; compare only, the controller's thread drives it.
    net::FtpConnection *connection() const;
    std::size_t cachedListingCount() const;

    // Commands, queued in order. False, with a line in the log, when nothing is attached or a name
    // would not fit into a command line (CR, LF or NUL): nothing is then queued.
    bool refresh(bool force);
    bool changeDirectory(const std::string &path);
    bool makeDirectory(const std::string &name);
    // DELE each name, RMD when that fails.
    bool remove(const std::vector<std::string> &names);
    bool rename(const std::string &from, const std::string &to);
    // Direct transfers; each ends with transferFinished. A failed download leaves the local file as it
    // was before.
    bool download(
        const std::string &name, const std::string &localPath, std::uint64_t sizeBytes, AbortFlag abort);
    bool upload(const std::string &localPath, const std::string &name, AbortFlag abort);

signals:
    // A protocol line (WM_LOG_SENT or WM_LOG_RECEIVED) or a status line (WM_LOG_STATUS).
    void logLine(unsigned message, const QString &text);
    void listingReady(const bw::browse::RemoteListing &listing);
    // The running direct transfer: its percent and the bytes moved so far.
    void transferProgress(int percent, qint64 doneBytes);
    void transferFinished(const QString &name, bool completed);
    // The connection went back to its item, which was left with `status`.
    void detached(int status);
    void busyChanged(bool busy);
    // From the controller's thread after every queued command, run or skipped.
    void commandEnded();

private:
    struct Command
    {
        std::function<void(net::FtpConnection &)> run;
        std::function<void()> skip; // the command cannot run any more: nothing is attached
    };

    struct Transfer
    {
        bool download = false;
        std::string name;
        std::string localPath;
        std::uint64_t sizeBytes = 0;
        AbortFlag abort;
    };

    static void onConnectionEvent(void *context, const net::ConnectionNotification &notification);
    bool enqueue(Command command);
    bool refuseUnsafe(const std::string &text);
    void log(const QString &text);
    void onCommandEnded();
    void runThread(std::stop_token stop);
    // Gives the connection back unless somebody already did; called on either thread.
    bool giveBack(std::int32_t status);
    bool handBackWanted() const;
    // Between the steps of a command: the connection is wanted back (by the window or the job) or the
    // controller ends, so the rest is left out. A stopped step alone does not tell: the error of the
    // failed step replaces the stop request in the connection's record.
    bool mustStop() const;

    void runRefresh(net::FtpConnection &connection, bool force);
    void runTransfer(net::FtpConnection &connection, const Transfer &transfer);
    std::optional<std::vector<CachedEntry>> cachedListing(const std::string &directory) const;
    void storeListing(const std::string &directory, std::vector<CachedEntry> entries);

    core::QueueList &m_queue;
    int m_outstanding = 0; // GUI thread only

    mutable std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<Command> m_commands; // guarded by m_mutex
    net::FtpConnection *m_connection = nullptr; // guarded by m_mutex
    std::int32_t m_itemId = 0; // guarded by m_mutex
    std::int32_t m_handBackStatus = 0; // guarded by m_mutex; a hand-back waits for the running command
    bool m_running = false; // guarded by m_mutex
    ListingCache m_cache; // guarded by m_mutex
    std::atomic<bool> m_ending{false}; // the destructor cuts the running command short

    std::jthread m_thread; // last: it starts after everything above and ends first
};

} // namespace bw::browse

Q_DECLARE_METATYPE(bw::browse::RemoteListing)
