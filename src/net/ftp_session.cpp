// SPDX-License-Identifier: MIT
#include "net/ftp_session.h"

#include <utility>

namespace bw::net {

FtpSession::FtpSession(std::shared_ptr<FtpConnection> connection, FtpSessionOptions options)
    : m_connection(std::move(connection))
    , m_options(std::move(options))
    , m_passive(m_options.passive)
    , m_timeoutSeconds(m_options.timeoutSeconds)
{}

// The connection is not touched: its other owner may be driving it already, and sets its own observer
// when it takes the connection back.
FtpSession::~FtpSession() = default;

bool FtpSession::connect(const RemoteSite &site)
{
    m_connection->reset();
    // reset() took back the connection's stop: a session stop requested before it must stay. Read
    // after the reset, so a request that lands during it is seen here or lands afterwards.
    if (m_sessionStopped.load())
        m_connection->abort(m_stopCode.load());
    m_connection->setTimeout(m_timeoutSeconds);
    if (m_options.resolver)
        m_connection->controlConnection().setResolver(m_options.resolver);
    if (!m_connection->createAndBind(0))
        return false;
    return m_connection->login(FtpSite{site, m_options.security, m_options.tls});
}

bool FtpSession::isLoggedIn() const
{
    const FtpState state = m_connection->ftpState();
    return state != FtpState::Fresh && state != FtpState::Closed && m_connection->isConnected();
}

bool FtpSession::isDroppedByServer()
{
    if (!m_connection->isControlDropped())
        return false;
    m_connection->close();
    return true;
}

void FtpSession::applyItemSettings(const SessionItemSettings &settings)
{
    m_passive = settings.clientOpensData;
    m_timeoutSeconds = settings.timeoutSeconds;
    m_connection->setConnectionId(settings.connectionId);
    m_connection->setTimeout(settings.timeoutSeconds);
    m_connection->dataConnection().setSpeedLimits(settings.speedLimits);
    m_connection->dataConnection().setMinSpeedGrace(settings.minSpeedGraceSeconds);
}

bool FtpSession::currentFolder(std::string &path)
{
    return m_connection->printWorkingDirectory(path);
}

bool FtpSession::list(const std::string &path, std::vector<ListingEntry> &entries)
{
    entries.clear();
    if (!m_connection->list(path, true, m_passive))
        return false;
    const ListingParser &parser = m_connection->listingParser();
    while (m_connection->parseNextEntry("*")) {
        // A names-only listing changes only the name of its entry: the rest tells nothing.
        ListingEntry entry;
        if (parser.isFullListing()) {
            entry = parser.entry();
        } else {
            entry.name = parser.entryName();
            entry.typeKnown = false;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

bool FtpSession::changeFolder(const std::string &path)
{
    return m_connection->changeDirectory(path);
}

bool FtpSession::makeFolder(const std::string &name)
{
    return m_connection->makeDirectory(name);
}

bool FtpSession::removeFile(const std::string &name)
{
    return m_connection->deleteFile(name);
}

bool FtpSession::removeFolder(const std::string &name)
{
    return m_connection->removeDirectory(name);
}

bool FtpSession::rename(const std::string &from, const std::string &to)
{
    return m_connection->rename(from, to);
}

bool FtpSession::fileSize(const std::string &name, std::int64_t &sizeBytes)
{
    return m_connection->fileSize(name, sizeBytes);
}

bool FtpSession::modificationTime(const std::string &name, std::int64_t &unixSeconds)
{
    return m_connection->modificationTime(name, unixSeconds);
}

bool FtpSession::get(const std::string &remoteName, const std::string &localPath, std::int64_t knownSizeBytes,
    bool resume, const TransferProgress &progress)
{
    beginTransfer();
    const bool done =
        m_connection->download(localPath, remoteName, true, m_passive, knownSizeBytes, resume, progress);
    endTransfer();
    return done;
}

bool FtpSession::put(
    const std::string &localPath, const std::string &remoteName, const TransferProgress &progress)
{
    beginTransfer();
    const bool done = m_connection->upload(localPath, remoteName, true, m_passive, progress);
    endTransfer();
    return done;
}

bool FtpSession::isGetRefusedUntilUpload() const
{
    // A refused RETR is answered on a live control connection; one that dropped mid-transfer also ends
    // without a closing reply, but is no refusal.
    return m_connection->error().is(CatProtocol, PermissionDenied) && m_connection->isConnected();
}

void FtpSession::beginTransfer()
{
    std::lock_guard lock{m_transferLock};
    m_transferRunning = true;
    m_transferStopped = false;
}

void FtpSession::endTransfer()
{
    // A stop meant for the transfer alone ends with it; one for the whole session stays. Under the
    // lock, so a stopTransfer that comes now either lands before this or finds no transfer.
    std::lock_guard lock{m_transferLock};
    if (m_transferStopped && !m_sessionStopped.load())
        m_connection->clearStop();
    m_transferRunning = false;
    m_transferStopped = false;
}

void FtpSession::requestStop(int code)
{
    m_stopCode.store(code);
    m_sessionStopped.store(true);
    m_connection->abort(code);
}

void FtpSession::clearStop()
{
    m_sessionStopped.store(false);
    m_connection->clearStop();
}

bool FtpSession::isStopRequested() const
{
    return m_connection->isStopRequested();
}

void FtpSession::stopTransfer(int code)
{
    // The connection's one stop ends whichever wait runs; the transfer that returns takes it back.
    // Between transfers there is nothing to stop, and a stop left set would fail the next command.
    std::lock_guard lock{m_transferLock};
    if (!m_transferRunning)
        return;
    m_transferStopped = true;
    m_connection->abort(code);
}

ErrorCode FtpSession::error() const
{
    return m_connection->error();
}

bool FtpSession::clearErrorUnlessStopped()
{
    return m_connection->clearErrorUnlessStopped();
}

void FtpSession::setObserver(ConnectionObserver observer, void *context)
{
    m_observer = observer;
    m_observerContext = context;
    m_connection->setObserver(&FtpSession::onEvent, this);
}

void FtpSession::onEvent(void *context, const ConnectionNotification &notification)
{
    auto *session = static_cast<FtpSession *>(context);
    if (session->m_observer)
        session->m_observer(session->m_observerContext, notification);
}

void FtpSession::disconnect(int reason)
{
    m_connection->disconnect(reason);
}

void FtpSession::close()
{
    m_connection->close();
}

} // namespace bw::net
