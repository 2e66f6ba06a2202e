// SPDX-License-Identifier: MIT
#include "engine/connection_lease.h"

#include <utility>

namespace bw::engine {

ConnectionLease::ConnectionLease(
    std::int32_t itemId, std::shared_ptr<net::RemoteSession> session, net::RemoteSite site)
    : m_itemId(itemId)
    , m_session(std::move(session))
    , m_site(std::move(site))
{}

std::shared_ptr<net::RemoteSession> ConnectionLease::take(std::function<void()> onRecall)
{
    std::lock_guard lock{m_mutex};
    if (m_state != State::Offered || m_recalled)
        return nullptr;
    m_state = State::Held;
    m_onRecall = std::move(onRecall);
    return m_session;
}

void ConnectionLease::release()
{
    {
        std::lock_guard lock{m_mutex};
        if (m_state != State::Held)
            return;
        m_state = State::Offered;
        m_onRecall = nullptr;
    }
    m_changed.notify_all(); // a recall waiting for the holder ends the lease now
}

void ConnectionLease::giveBack(std::int32_t status)
{
    {
        std::lock_guard lock{m_mutex};
        if (m_state == State::Ended)
            return;
        m_state = State::Ended;
        m_returned = true;
        m_status = status;
        m_onRecall = nullptr;
    }
    m_changed.notify_all();
}

bool ConnectionLease::isRecalled() const
{
    std::lock_guard lock{m_mutex};
    return m_recalled;
}

bool ConnectionLease::isHeld() const
{
    std::lock_guard lock{m_mutex};
    return m_state == State::Held;
}

bool ConnectionLease::hasEnded() const
{
    std::lock_guard lock{m_mutex};
    return m_state == State::Ended;
}

void ConnectionLease::recall(int stopCode)
{
    std::function<void()> onRecall;
    bool held = false;
    {
        std::lock_guard lock{m_mutex};
        if (m_recalled || m_state == State::Ended)
            return;
        m_recalled = true;
        held = m_state == State::Held;
        onRecall = m_onRecall;
    }
    m_changed.notify_all();
    if (!held)
        return;
    // The running step ends soon; the holder then sees the recall between steps.
    m_session->requestStop(stopCode);
    if (onRecall)
        onRecall();
}

LeaseOutcome ConnectionLease::wait(std::chrono::milliseconds recallBound)
{
    std::unique_lock lock{m_mutex};
    m_changed.wait(lock, [this] { return m_returned || m_recalled; });
    if (!m_returned && m_state == State::Held)
        m_changed.wait_for(lock, recallBound, [this] { return m_returned || m_state != State::Held; });
    if (m_returned)
        return {LeaseEnd::Returned, m_status};
    const bool held = m_state == State::Held;
    m_state = State::Ended;
    m_onRecall = nullptr;
    return {held ? LeaseEnd::Abandoned : LeaseEnd::Withdrawn, 0};
}

std::shared_ptr<ConnectionLease> LeaseBoard::offer(
    std::int32_t itemId, std::shared_ptr<net::RemoteSession> session, net::RemoteSite site)
{
    auto lease = std::make_shared<ConnectionLease>(itemId, std::move(session), std::move(site));
    std::lock_guard lock{m_mutex};
    m_leases[itemId] = lease;
    return lease;
}

std::shared_ptr<ConnectionLease> LeaseBoard::find(std::int32_t itemId) const
{
    std::lock_guard lock{m_mutex};
    const auto found = m_leases.find(itemId);
    return found == m_leases.end() ? nullptr : found->second;
}

void LeaseBoard::remove(const std::shared_ptr<ConnectionLease> &lease)
{
    if (!lease)
        return;
    std::lock_guard lock{m_mutex};
    const auto found = m_leases.find(lease->itemId());
    if (found != m_leases.end() && found->second == lease)
        m_leases.erase(found);
}

std::size_t LeaseBoard::size() const
{
    std::lock_guard lock{m_mutex};
    return m_leases.size();
}

} // namespace bw::engine
