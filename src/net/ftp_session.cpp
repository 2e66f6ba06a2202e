// SPDX-License-Identifier: MIT
#include "net/ftp_session.h"

#include <utility>

namespace bw::net {

FtpSession::FtpSession(std::shared_ptr<FtpConnection> connection, FtpSessionOptions options)
    : m_connection(std::move(connection))
    , m_options(std::move(options))
{}

// The connection is not touched: its other owner may be driving it already, and sets its own observer
// when it takes the connection back.
FtpSession::~FtpSession() = default;

bool FtpSession::connect(const RemoteSite &site)
{
    m_sessionStopped.store(false);
    m_connection->reset();
    m_connection->setTimeout(m_options.timeoutSeconds);
    if (!m_connection->createAndBind(0))
        return false;
    return m_connection->login(FtpSite{site, m_options.security, m_options.tls});
}

bool FtpSession::isLoggedIn() const
{
    const FtpState state = m_connection->ftpState();
    return state != FtpState::Fresh && state != FtpState::Closed && m_connection->isConnected();
}

bool FtpSession::currentFolder(std::string &path)
{
    return m_connection->printWorkingDirectory(path);
}

bool FtpSession::list(const std::string &path, std::vector<ListingEntry> &entries)
{
    entries.clear();
    if (!m_connection->list(path, true, m_options.passive))
        return false;
    while (m_connection->parseNextEntry("*"))
        entries.push_back(m_connection->listingParser().entry());
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

bool FtpSession::get(const std::string &remoteName, const std::string &localPath, std::int64_t knownSizeBytes,
    bool resume, const TransferProgress &progress)
{
    beginTransfer();
    const bool done = m_connection->download(
        localPath, remoteName, true, m_options.passive, knownSizeBytes, resume, progress);
    endTransfer();
    return done;
}

bool FtpSession::put(
    const std::string &localPath, const std::string &remoteName, const TransferProgress &progress)
{
    beginTransfer();
    const bool done = m_connection->upload(localPath, remoteName, true, m_options.passive, progress);
    endTransfer();
    return done;
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
    m_sessionStopped.store(true);
    m_connection->abort(code);
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
