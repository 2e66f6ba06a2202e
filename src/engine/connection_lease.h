// SPDX-License-Identifier: MIT
// A transfer job offers its logged-in session to the manual browser through a lease, and waits (no
// polling) until the holder gives it back. A recall (the job must stop) asks the holder to end its
// running step and hand the session back; the job waits for that only so long, and because the lease,
// the holder and the job share the session, a holder that is late never sees it freed under it.
// Leases are found by item id on the LeaseBoard the engine owns.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "net/remote_session.h"

namespace bw::engine {

enum class LeaseEnd
{
    Returned, // the holder gave the session back with a status
    Withdrawn, // recalled while nobody held it
    Abandoned, // recalled, and the holder kept it past the bound: it is the holder's now
};

struct LeaseOutcome
{
    LeaseEnd end = LeaseEnd::Returned;
    std::int32_t status = 0; // the holder's status for the item, when Returned
};

class ConnectionLease
{
public:
    // `site` lets a holder log in again after a stopped transfer left the session out of step.
    ConnectionLease(std::int32_t itemId, std::shared_ptr<net::RemoteSession> session, net::RemoteSite site);

    std::int32_t itemId() const { return m_itemId; }

    const net::RemoteSite &site() const { return m_site; }

    // The holder's side, from any thread.
    // Takes the session: null when somebody holds it, or it was recalled or has ended. `onRecall` runs
    // on the recalling thread, without the lease's lock, also shortly after the holder let go: it must
    // only touch what it shares ownership of.
    std::shared_ptr<net::RemoteSession> take(std::function<void()> onRecall = {});
    // Stops holding but leaves the session offered, for another holder.
    void release();
    // Hands the session back; the job goes on with it and `status` for its item. The holder must not
    // drive it any more. Nothing happens once the lease has ended.
    void giveBack(std::int32_t status);
    bool isRecalled() const;
    bool isHeld() const;
    bool hasEnded() const;

    // The job's side.
    // Asks for the session back: a holder's running step is stopped with `stopCode` and its onRecall
    // called; a lease nobody holds ends at once. Any thread.
    void recall(int stopCode);
    // Waits for the hand-back, or for a recall; after a recall, waits at most `recallBound` for the
    // holder to give the session back.
    LeaseOutcome wait(std::chrono::milliseconds recallBound);

private:
    enum class State
    {
        Offered,
        Held,
        Ended,
    };

    const std::int32_t m_itemId;
    const std::shared_ptr<net::RemoteSession> m_session;
    const net::RemoteSite m_site;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Offered; // guarded by m_mutex
    bool m_recalled = false; // guarded by m_mutex
    bool m_returned = false; // guarded by m_mutex
    std::int32_t m_status = 0; // guarded by m_mutex
    std::function<void()> m_onRecall; // guarded by m_mutex
};

// The leases on offer, by item id. Owned by the engine, used by the jobs and the browser.
class LeaseBoard
{
public:
    // Puts a new lease on the board (replacing one the item had).
    std::shared_ptr<ConnectionLease> offer(
        std::int32_t itemId, std::shared_ptr<net::RemoteSession> session, net::RemoteSite site);
    // The lease offered for `itemId`, or null.
    std::shared_ptr<ConnectionLease> find(std::int32_t itemId) const;
    // Takes `lease` off the board (a newer lease of the same item stays).
    void remove(const std::shared_ptr<ConnectionLease> &lease);
    std::size_t size() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::int32_t, std::shared_ptr<ConnectionLease>> m_leases; // guarded by m_mutex
};

} // namespace bw::engine
