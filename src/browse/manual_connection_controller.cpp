// SPDX-License-Identifier: MIT
// The Qt face of the manual session: its reports as signals, its notices in the user's words.
#include "browse/manual_connection_controller.h"

#include <algorithm>

#include "browse/control_line_text.h"
#include "core/queue_notifier.h"
#include "net/connection_notification.h"
#include "net/remote_session.h"

namespace bw::browse {

namespace {

RemoteListing shownListing(const engine::ManualListing &listing)
{
    RemoteListing shown{listing.shownDirectory, listing.directory, {}};
    shown.entries.reserve(listing.entries.size());
    for (const net::ListingEntry &entry : listing.entries) {
        const net::EntryTime &time = entry.time;
        CachedEntry item;
        item.name = entry.name;
        item.isDirectory = entry.isDirectory;
        item.size = static_cast<std::uint64_t>(std::max<std::int64_t>(entry.sizeBytes, 0));
        item.dateText = dateText(time.year, time.month, time.day, time.hour, time.minute).toStdString();
        shown.entries.push_back(std::move(item));
    }
    return shown;
}

} // namespace

ManualConnectionController::ManualConnectionController(
    core::QueueList &queue, engine::LeaseBoard &leases, QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<RemoteListing>();
    connect(this, &ManualConnectionController::commandEnded, this,
        &ManualConnectionController::onCommandEnded, Qt::QueuedConnection);
    m_session = std::make_unique<engine::ManualSession>(leases, &queue, events());
}

ManualConnectionController::~ManualConnectionController()
{
    m_session.reset(); // joins the thread before the signals' receiver goes
}

engine::ManualSessionEvents ManualConnectionController::events()
{
    engine::ManualSessionEvents events;
    events.traffic = [this](const net::ConnectionNotification &notification) {
        if (notification.kind == net::NotifyCommandSent)
            emit logLine(core::kWmLogSent, QString::fromStdString(notification.text));
        else if (notification.kind == net::NotifyReplyReceived)
            emit logLine(core::kWmLogReceived, QString::fromStdString(notification.text));
    };
    events.notice = [this](const engine::ManualNoticeText &notice) {
        onNotice(notice);
    };
    events.listingReady = [this](const engine::ManualListing &listing) {
        emit listingReady(shownListing(listing));
    };
    events.transferProgress = [this](int percent, std::int64_t doneBytes) {
        emit transferProgress(percent, static_cast<qint64>(doneBytes));
    };
    events.transferFinished = [this](const std::string &name, bool completed) {
        emit transferFinished(QString::fromStdString(name), completed);
    };
    events.detached = [this](std::int32_t status) {
        emit detached(status);
    };
    events.commandEnded = [this] {
        emit commandEnded();
    };
    return events;
}

void ManualConnectionController::onNotice(const engine::ManualNoticeText &notice)
{
    const QString path = QString::fromStdString(notice.path);
    switch (notice.notice) {
    case engine::ManualNotice::ConnectionLost:
        log(tr("The manual connection was lost."));
        break;
    case engine::ManualNotice::TakenBack:
        log(tr("The manual connection was taken back."));
        break;
    case engine::ManualNotice::TransferFailed:
        log(tr("Transfer failed: %1 (%2)")
                .arg(path, notice.aborted ? tr("aborted") : QString::fromStdString(notice.cause)));
        break;
    case engine::ManualNotice::PartialFileKept:
        log(tr("The partial file %1 could not be taken away.").arg(path));
        break;
    }
}

void ManualConnectionController::log(const QString &text)
{
    emit logLine(core::kWmLogStatus, text);
}

bool ManualConnectionController::attach(std::int32_t itemId)
{
    return !isBusy() && m_session->attach(itemId);
}

void ManualConnectionController::leaveLent()
{
    if (!isBusy())
        m_session->leaveLent();
}

bool ManualConnectionController::handBack(std::int32_t status)
{
    return m_session->handBack(status);
}

bool ManualConnectionController::dropIfLost()
{
    return !isBusy() && m_session->dropIfLost();
}

void ManualConnectionController::abortTransfer()
{
    m_session->abortTransfer();
}

bool ManualConnectionController::isAttached() const
{
    return m_session->isAttached();
}

net::RemoteSession *ManualConnectionController::connection() const
{
    return m_session->session().get();
}

std::size_t ManualConnectionController::cachedListingCount() const
{
    return m_session->cachedListingCount();
}

bool ManualConnectionController::refuseUnsafe(const std::string &text)
{
    if (fitsControlLine(text))
        return false;
    log(tr("Refused: \"%1\" holds a line break or a NUL character and cannot be sent to the server.")
            .arg(visibleControlText(text)));
    return true;
}

bool ManualConnectionController::counted(bool queued)
{
    if (queued && m_outstanding++ == 0)
        emit busyChanged(true);
    return queued;
}

void ManualConnectionController::onCommandEnded()
{
    if (m_outstanding > 0 && --m_outstanding == 0)
        emit busyChanged(false);
}

bool ManualConnectionController::refresh(bool force)
{
    return counted(m_session->refresh(force));
}

bool ManualConnectionController::changeDirectory(const std::string &path)
{
    return !refuseUnsafe(path) && counted(m_session->changeDirectory(path));
}

bool ManualConnectionController::makeDirectory(const std::string &name)
{
    return !refuseUnsafe(name) && counted(m_session->makeDirectory(name));
}

bool ManualConnectionController::remove(const std::vector<std::string> &names)
{
    if (std::any_of(
            names.begin(), names.end(), [this](const std::string &name) { return refuseUnsafe(name); }))
        return false;
    return counted(m_session->remove(names));
}

bool ManualConnectionController::rename(const std::string &from, const std::string &to)
{
    return !refuseUnsafe(from) && !refuseUnsafe(to) && counted(m_session->rename(from, to));
}

bool ManualConnectionController::download(const std::string &name, const std::string &localPath,
    std::uint64_t sizeBytes, AbortFlag abort, engine::IfFileExists ifExists)
{
    return !refuseUnsafe(name)
        && counted(m_session->download(name, localPath, sizeBytes, std::move(abort), ifExists));
}

bool ManualConnectionController::upload(
    const std::string &localPath, const std::string &name, AbortFlag abort)
{
    return !refuseUnsafe(name) && counted(m_session->upload(localPath, name, std::move(abort)));
}

} // namespace bw::browse
