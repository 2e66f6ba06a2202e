// SPDX-License-Identifier: MIT
// The controller's thread, its command queue and the hand-back of the connection.
#include "browse/manual_connection_controller.h"

#include <chrono>
#include <utility>

#include "browse/control_line_text.h"
#include "core/queue_list.h"
#include "core/queue_notifier.h"
#include "net/connection_notification.h"
#include "net/error_code.h"
#include "net/ftp_connection.h"

namespace bw::browse {

namespace {

// How often an idle controller looks whether the job wants its connection back.
constexpr std::chrono::milliseconds kRecallPoll{50};

bool isLoggedOut(const net::FtpConnection &connection)
{
    const net::FtpState state = connection.ftpState();
    return state == net::FtpState::Fresh || state == net::FtpState::Closed;
}

} // namespace

ManualConnectionController::ManualConnectionController(core::QueueList &queue, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
{
    qRegisterMetaType<RemoteListing>();
    connect(this, &ManualConnectionController::commandEnded, this,
        &ManualConnectionController::onCommandEnded, Qt::QueuedConnection);
    m_thread = std::jthread([this](std::stop_token stop) { runThread(std::move(stop)); });
}

ManualConnectionController::~ManualConnectionController()
{
    net::FtpConnection *running = nullptr;
    {
        std::lock_guard lock{m_mutex};
        m_commands.clear();
        if (m_running)
            running = m_connection;
    }
    // A command still talking to the server is cut short: the window must not wait for it. The
    // connection is then out of step with the server, so its item fails and the job logs in afresh.
    m_ending.store(true);
    if (running)
        running->abort(net::Exiting);
    m_thread.request_stop();
    m_wake.notify_all();
    m_thread.join();
    giveBack(running ? static_cast<std::int32_t>(core::ItemStatus::StatusFailedManualConnection)
                     : static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection));
}

void ManualConnectionController::onConnectionEvent(
    void *context, const net::ConnectionNotification &notification)
{
    unsigned message = 0;
    if (notification.kind == net::NotifyCommandSent)
        message = core::kWmLogSent;
    else if (notification.kind == net::NotifyReplyReceived)
        message = core::kWmLogReceived;
    else
        return;
    emit static_cast<ManualConnectionController *>(context)->logLine(
        message, QString::fromStdString(notification.text));
}

void ManualConnectionController::log(const QString &text)
{
    emit logLine(core::kWmLogStatus, text);
}

bool ManualConnectionController::attach(std::int32_t itemId)
{
    if (isBusy() || isAttached())
        return false;
    net::FtpConnection *connection = m_queue.borrowConnection(itemId);
    if (!connection)
        return false;
    // The job waits while the connection is lent: from here on only this controller drives it.
    connection->setObserver(&ManualConnectionController::onConnectionEvent, this);
    std::lock_guard lock{m_mutex};
    m_cache.clear();
    m_connection = connection;
    m_itemId = itemId;
    m_handBackStatus = 0;
    return true;
}

void ManualConnectionController::leaveLent()
{
    if (isBusy())
        return;
    net::FtpConnection *connection = nullptr;
    std::int32_t itemId = 0;
    {
        std::lock_guard lock{m_mutex};
        connection = std::exchange(m_connection, nullptr);
        itemId = m_itemId;
        m_cache.clear();
    }
    if (!connection)
        return;
    connection->setObserver(nullptr, nullptr);
    m_queue.leaveConnectionLent(itemId);
}

bool ManualConnectionController::handBack(std::int32_t status)
{
    if (!isBusy())
        return giveBack(status);
    {
        std::lock_guard lock{m_mutex};
        if (!m_connection)
            return false;
        m_handBackStatus = status;
    }
    m_wake.notify_all();
    return false;
}

bool ManualConnectionController::dropIfLost()
{
    if (isBusy())
        return false;
    bool lost = false;
    {
        std::lock_guard lock{m_mutex};
        lost = m_connection && isLoggedOut(*m_connection);
    }
    if (!lost)
        return false;
    log(tr("The manual connection was lost."));
    return giveBack(static_cast<std::int32_t>(core::ItemStatus::StatusFailedManualConnection));
}

bool ManualConnectionController::giveBack(std::int32_t status)
{
    net::FtpConnection *connection = nullptr;
    std::int32_t itemId = 0;
    {
        std::lock_guard lock{m_mutex};
        connection = std::exchange(m_connection, nullptr);
        itemId = m_itemId;
        m_handBackStatus = 0;
        m_cache.clear();
    }
    if (!connection)
        return false;
    connection->setObserver(nullptr, nullptr);
    m_queue.setStatus(itemId, core::ItemStatus{status});
    // After this the job may go on with the connection, or close it: it is not touched again here.
    m_queue.lendConnection(itemId, nullptr);
    emit detached(status);
    return true;
}

bool ManualConnectionController::isAttached() const
{
    std::lock_guard lock{m_mutex};
    return m_connection != nullptr;
}

net::FtpConnection *ManualConnectionController::connection() const
{
    std::lock_guard lock{m_mutex};
    return m_connection;
}

std::size_t ManualConnectionController::cachedListingCount() const
{
    std::lock_guard lock{m_mutex};
    return m_cache.size();
}

bool ManualConnectionController::handBackWanted() const
{
    std::lock_guard lock{m_mutex};
    return m_handBackStatus != 0;
}

bool ManualConnectionController::mustStop() const
{
    std::int32_t itemId = 0;
    {
        std::lock_guard lock{m_mutex};
        if (m_handBackStatus != 0)
            return true;
        itemId = m_itemId;
    }
    return m_ending.load() || m_queue.connectionRecalled(itemId);
}

bool ManualConnectionController::refuseUnsafe(const std::string &text)
{
    if (fitsControlLine(text))
        return false;
    log(tr("Refused: \"%1\" holds a line break or a NUL character and cannot be sent to the server.")
            .arg(visibleControlText(text)));
    return true;
}

bool ManualConnectionController::enqueue(Command command)
{
    {
        std::lock_guard lock{m_mutex};
        if (!m_connection || m_handBackStatus != 0)
            return false;
        m_commands.push_back(std::move(command));
    }
    m_wake.notify_all();
    if (m_outstanding++ == 0)
        emit busyChanged(true);
    return true;
}

void ManualConnectionController::onCommandEnded()
{
    if (m_outstanding > 0 && --m_outstanding == 0)
        emit busyChanged(false);
}

void ManualConnectionController::runThread(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        std::optional<Command> command;
        net::FtpConnection *connection = nullptr;
        std::int32_t itemId = 0;
        std::int32_t handBackStatus = 0;
        {
            std::unique_lock lock{m_mutex};
            m_wake.wait_for(
                lock, stop, kRecallPoll, [this] { return !m_commands.empty() || m_handBackStatus != 0; });
            if (stop.stop_requested())
                return;
            if (!m_commands.empty()) {
                command = std::move(m_commands.front());
                m_commands.pop_front();
                m_running = true;
            }
            connection = m_connection;
            itemId = m_itemId;
            handBackStatus = m_handBackStatus;
        }
        // Between commands: give the connection back when the window or the job wants it, or when it
        // was lost. The queue is asked outside the lock.
        if (connection && handBackStatus != 0) {
            giveBack(handBackStatus);
        } else if (connection && m_queue.connectionRecalled(itemId)) {
            log(tr("The manual connection was taken back."));
            giveBack(static_cast<std::int32_t>(core::ItemStatus::StatusInactiveManualConnection));
        } else if (connection && command && isLoggedOut(*connection)) {
            log(tr("The manual connection was lost."));
            giveBack(static_cast<std::int32_t>(core::ItemStatus::StatusFailedManualConnection));
        }
        if (!command)
            continue;
        {
            std::lock_guard lock{m_mutex};
            connection = m_connection;
        }
        if (connection)
            command->run(*connection);
        else if (command->skip)
            command->skip();
        {
            std::lock_guard lock{m_mutex};
            m_running = false;
        }
        emit commandEnded();
    }
}

} // namespace bw::browse
