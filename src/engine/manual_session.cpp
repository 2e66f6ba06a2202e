// SPDX-License-Identifier: MIT
// The manual session's thread, its command queue and the hand-back of the lease.
#include "engine/manual_session.h"

#include <utility>

#include "core/queue_item.h"
#include "core/queue_list.h"
#include "engine/connection_lease.h"
#include "net/error_code.h"

namespace bw::engine {

namespace {

constexpr auto kFailed = static_cast<std::int32_t>(core::ItemStatus::StatusFailedManualConnection);
constexpr auto kInactive = static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection);

} // namespace

ManualSession::ManualSession(LeaseBoard &board, core::QueueList *queue, ManualSessionEvents events)
    : m_board(board)
    , m_queue(queue)
    , m_events(std::move(events))
{
    m_thread = std::jthread([this](std::stop_token stop) { runThread(std::move(stop)); });
}

ManualSession::~ManualSession()
{
    std::shared_ptr<net::RemoteSession> running;
    {
        std::lock_guard lock{m_wake->mutex};
        m_commands.clear();
        if (m_running)
            running = m_session;
    }
    // A command still talking to the server is cut short: the window must not wait for it.
    m_ending.store(true);
    if (running)
        running->requestStop(net::Exiting);
    m_thread.request_stop();
    m_wake->changed.notify_all();
    m_thread.join();
    giveBack(running ? kFailed : kInactive);
}

void ManualSession::onTraffic(void *context, const net::ConnectionNotification &notification)
{
    const auto *self = static_cast<const ManualSession *>(context);
    if (notification.kind != net::NotifyProgress && self->m_events.traffic)
        self->m_events.traffic(notification);
}

void ManualSession::tell(
    ManualNotice notice, const std::string &path, bool aborted, const std::string &cause) const
{
    if (m_events.notice)
        m_events.notice({notice, path, aborted, cause});
}

bool ManualSession::attach(std::int32_t itemId)
{
    if (!isIdle() || isAttached())
        return false;
    const std::shared_ptr<ConnectionLease> lease = m_board.find(itemId);
    if (!lease)
        return false;
    // A recall only wakes the thread, which gives the session back between commands; the running one
    // was stopped by the lease already.
    std::shared_ptr<net::RemoteSession> session = lease->take([wake = m_wake] {
        {
            std::lock_guard lock{wake->mutex};
        }
        wake->changed.notify_all();
    });
    if (!session)
        return false;
    // The job waits while the lease is held: from here on only this session's thread drives it.
    session->setObserver(&ManualSession::onTraffic, this);
    {
        std::lock_guard lock{m_wake->mutex};
        m_cache.clear();
        m_lease = lease;
        m_session = std::move(session);
        m_handBackStatus = 0;
    }
    m_wake->changed.notify_all(); // a recall that came before m_lease was set is seen now
    return true;
}

void ManualSession::leaveLent()
{
    if (!isIdle())
        return;
    std::shared_ptr<ConnectionLease> lease;
    std::shared_ptr<net::RemoteSession> session;
    {
        std::lock_guard lock{m_wake->mutex};
        lease = std::exchange(m_lease, nullptr);
        session = std::exchange(m_session, nullptr);
        m_cache.clear();
    }
    if (!lease)
        return;
    session->setObserver(nullptr, nullptr);
    lease->release();
}

bool ManualSession::handBack(std::int32_t status)
{
    std::shared_ptr<net::RemoteSession> transferring;
    {
        std::lock_guard lock{m_wake->mutex};
        if (!m_lease)
            return false;
        if (m_running || !m_commands.empty()) {
            m_handBackStatus = status;
            if (m_transferAbort) {
                m_transferAbort->store(true);
                transferring = m_session;
            }
        }
    }
    if (transferring) {
        transferring->stopTransfer(net::StopByItem);
        return false;
    }
    m_wake->changed.notify_all();
    if (!isIdle())
        return false; // the thread gives it back after the running command
    return giveBack(status);
}

bool ManualSession::dropIfLost()
{
    std::shared_ptr<net::RemoteSession> session;
    {
        std::lock_guard lock{m_wake->mutex};
        if (m_running || !m_commands.empty())
            return false;
        session = m_session;
    }
    if (!session || session->isLoggedIn())
        return false;
    tell(ManualNotice::ConnectionLost);
    return giveBack(kFailed);
}

void ManualSession::abortTransfer()
{
    std::shared_ptr<net::RemoteSession> transferring;
    {
        std::lock_guard lock{m_wake->mutex};
        if (!m_transferAbort)
            return;
        m_transferAbort->store(true);
        transferring = m_session;
    }
    if (transferring)
        transferring->stopTransfer(net::StopByItem);
}

void ManualSession::keepInterruptedDownload()
{
    std::lock_guard lock{m_wake->mutex};
    if (m_transferAbort && !m_transferAbort->load())
        m_keptDownload = m_transferAbort;
}

bool ManualSession::giveBack(std::int32_t status)
{
    std::shared_ptr<ConnectionLease> lease;
    std::shared_ptr<net::RemoteSession> session;
    {
        std::lock_guard lock{m_wake->mutex};
        lease = std::exchange(m_lease, nullptr);
        session = std::exchange(m_session, nullptr);
        m_handBackStatus = 0;
        m_cache.clear();
    }
    if (!lease)
        return false;
    session->setObserver(nullptr, nullptr);
    if (m_queue)
        m_queue->setStatus(lease->itemId(), core::ItemStatus{status});
    // After this the job may go on with the session, or close it: it is not touched again here.
    lease->giveBack(status);
    if (m_events.detached)
        m_events.detached(status);
    return true;
}

bool ManualSession::isAttached() const
{
    std::lock_guard lock{m_wake->mutex};
    return m_lease != nullptr;
}

bool ManualSession::isIdle() const
{
    std::lock_guard lock{m_wake->mutex};
    return !m_running && m_commands.empty();
}

std::shared_ptr<net::RemoteSession> ManualSession::session() const
{
    std::lock_guard lock{m_wake->mutex};
    return m_session;
}

std::size_t ManualSession::cachedListingCount() const
{
    std::lock_guard lock{m_wake->mutex};
    return m_cache.size();
}

bool ManualSession::handBackWanted() const
{
    std::lock_guard lock{m_wake->mutex};
    return m_handBackStatus != 0;
}

bool ManualSession::mustStop() const
{
    std::shared_ptr<ConnectionLease> lease;
    {
        std::lock_guard lock{m_wake->mutex};
        if (m_handBackStatus != 0)
            return true;
        lease = m_lease;
    }
    return m_ending.load() || !lease || lease->isRecalled();
}

bool ManualSession::enqueue(Command command)
{
    {
        std::lock_guard lock{m_wake->mutex};
        if (!m_lease || m_handBackStatus != 0)
            return false;
        m_commands.push_back(std::move(command));
    }
    m_wake->changed.notify_all();
    return true;
}

bool ManualSession::handBackBetweenCommands(bool commandWaits)
{
    std::shared_ptr<ConnectionLease> lease;
    std::shared_ptr<net::RemoteSession> session;
    std::int32_t handBackStatus = 0;
    {
        std::lock_guard lock{m_wake->mutex};
        lease = m_lease;
        session = m_session;
        handBackStatus = m_handBackStatus;
    }
    if (!lease)
        return false;
    if (handBackStatus != 0)
        return giveBack(handBackStatus);
    if (lease->isRecalled()) {
        tell(ManualNotice::TakenBack);
        return giveBack(kInactive);
    }
    if (commandWaits && !session->isLoggedIn()) {
        tell(ManualNotice::ConnectionLost);
        return giveBack(kFailed);
    }
    return false;
}

void ManualSession::runThread(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        std::optional<Command> command;
        {
            std::unique_lock lock{m_wake->mutex};
            m_wake->changed.wait(lock, stop, [this] {
                return !m_commands.empty() || m_handBackStatus != 0 || (m_lease && m_lease->isRecalled());
            });
            if (stop.stop_requested())
                return;
            if (!m_commands.empty()) {
                command = std::move(m_commands.front());
                m_commands.pop_front();
                m_running = true;
            }
        }
        handBackBetweenCommands(command.has_value());
        if (!command)
            continue;
        std::shared_ptr<net::RemoteSession> session;
        {
            std::lock_guard lock{m_wake->mutex};
            session = m_session;
        }
        if (session)
            command->run(*session);
        else if (command->skip)
            command->skip();
        {
            std::lock_guard lock{m_wake->mutex};
            m_running = false;
        }
        if (m_events.commandEnded)
            m_events.commandEnded();
    }
}

} // namespace bw::engine
