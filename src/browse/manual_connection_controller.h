// SPDX-License-Identifier: MIT
// The remote browser's link to a session a transfer job offers: a thin Qt face of engine::ManualSession,
// which runs the commands on a thread of its own, one after another; its reports arrive here as
// signals (queued to the window), so the window never waits on the server. Its methods are called on
// the GUI thread; its signals come from the session's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QMetaType>
#include <QObject>
#include <QString>

#include "browse/list_entry.h"
#include "engine/manual_session.h"

namespace bw::core {
class QueueList;
}

namespace bw::engine {
class LeaseBoard;
}

namespace bw::net {
class RemoteSession;
}

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
    using AbortFlag = engine::ManualSession::AbortFlag;

    // `queue` gets the item's status as the session goes back; `leases` is where jobs offer sessions.
    ManualConnectionController(core::QueueList &queue, engine::LeaseBoard &leases, QObject *parent = nullptr);
    // Stops a running command, gives a held session back and ends the thread.
    ~ManualConnectionController() override;

    // Takes the session offered for `itemId`; false when none is offered. Only while not busy.
    bool attach(std::int32_t itemId);
    // Stops using the session but leaves it offered to its item's job, which waits for another browser.
    void leaveLent();
    // Gives the session back, leaving `status` in the item. True when that happened at once; while
    // commands run, the running transfer is aborted and the rest skipped, and `detached` follows.
    bool handBack(std::int32_t status);
    // While not busy: a session that is no longer logged in is given back, its item failed (true).
    bool dropIfLost();

    // The program quits: the running download keeps its part file when it stops.
    void keepInterruptedDownload() { m_session->keepInterruptedDownload(); }

    bool isAttached() const;

    // Commands were queued that have not ended yet (counted on the GUI thread, by their signals).
    bool isBusy() const { return m_outstanding > 0; }

    // The held session, or null; compare only, the session's thread drives it.
    net::RemoteSession *connection() const;
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
    // was before; `ifExists` decides what happens to another file of the local name.
    bool download(const std::string &name, const std::string &localPath, std::uint64_t sizeBytes,
        AbortFlag abort, engine::IfFileExists ifExists = engine::IfFileExists::Overwrite);
    bool upload(const std::string &localPath, const std::string &name, AbortFlag abort);

public slots:
    // Stops the running direct transfer now (its abort flag is set too).
    void abortTransfer();

signals:
    // A protocol line (WM_LOG_SENT or WM_LOG_RECEIVED) or a status line (WM_LOG_STATUS).
    void logLine(unsigned message, const QString &text);
    void listingReady(const bw::browse::RemoteListing &listing);
    // The running direct transfer: its percent and the bytes moved so far.
    void transferProgress(int percent, qint64 doneBytes);
    void transferFinished(const QString &name, bool completed);
    // The session went back to its item's job, which was left with `status`.
    void detached(int status);
    void busyChanged(bool busy);
    // From the session's thread after every queued command, run or skipped.
    void commandEnded();

private:
    engine::ManualSessionEvents events();
    void onNotice(const engine::ManualNoticeText &notice);
    bool refuseUnsafe(const std::string &text);
    // Counts a queued command; `queued` is what the session answered.
    bool counted(bool queued);
    void log(const QString &text);
    void onCommandEnded();

    int m_outstanding = 0; // GUI thread only
    std::unique_ptr<engine::ManualSession> m_session; // last: its thread reports to the members above
};

} // namespace bw::browse

Q_DECLARE_METATYPE(bw::browse::RemoteListing)
