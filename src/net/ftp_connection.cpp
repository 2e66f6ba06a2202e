// SPDX-License-Identifier: MIT
// FTP control connection: login, the command and reply exchange, the simple commands, leaving the
// server, logging and observer notifications. Transfers are in ftp_transfer.cpp.
#include "net/ftp_connection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

#include <strings.h>

#include "core/diagnostic_log.h"
#include "net/log_levels.h"
#include "net/tls_upgrade.h"
#include "platform/socket_errors.h"

namespace bw::net {

namespace {

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}

std::string trimBlanks(const std::string &text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// The path of a 257 reply: the quoted text, as most servers send it; else the first word that starts
// with "/"; else the text after the code when it is one word. Empty when the reply holds none.
std::string workingDirectoryOf(const std::string &line)
{
    const auto open = line.find('"');
    const auto close = open == std::string::npos ? std::string::npos : line.find('"', open + 1);
    if (close != std::string::npos)
        return line.substr(open + 1, close - open - 1);
    const std::string text = line.size() > 4 ? trimBlanks(line.substr(4)) : std::string();
    for (std::size_t at = 0; at < text.size();) {
        const auto end = std::min(text.find(' ', at), text.size());
        if (text[at] == '/')
            return text.substr(at, end - at);
        at = end + 1;
    }
    // A single word is taken as the path ("257 C:\data"); a sentence without a path is no path.
    return text.find(' ') == std::string::npos ? text : std::string();
}

} // namespace

FtpConnection::FtpConnection()
{
    m_lastActivity = nowSeconds();
}

FtpConnection::~FtpConnection() = default;

void FtpConnection::setFtpClock(const platform::Clock *clock)
{
    m_control.setClock(clock);
    m_data.setClock(clock);
    std::lock_guard lock{m_ftpLock};
    m_lastActivity = m_control.clock().nowSeconds();
}

std::int64_t FtpConnection::nowSeconds() const
{
    return m_control.clock().nowSeconds();
}

void FtpConnection::setFtpState(FtpState state)
{
    std::lock_guard lock{m_ftpLock};
    m_ftpState = state;
}

FtpState FtpConnection::ftpState() const
{
    std::lock_guard lock{m_ftpLock};
    return m_ftpState;
}

void FtpConnection::setProtocolError(std::int32_t code, bool closeData)
{
    if (closeData)
        closeDataConnections();
    m_control.setError(CatProtocol, code);
}

void FtpConnection::keepProxyFailure(const ErrorCode &dataError, std::int32_t code)
{
    if (dataError.isProxyFailure())
        m_control.setError(dataError);
    else
        setProtocolError(code);
}

void FtpConnection::closeDataConnections()
{
    m_deferredPort.clear(); // it names the listener closed here
    m_dataConnectPending = false;
    m_listener.close();
    m_data.shutdown(ShutdownDirection::Send);
    m_data.close();
}

int FtpConnection::progressPercent() const
{
    std::lock_guard lock{m_ftpLock};
    if (m_ftpState == FtpState::Listing || m_ftpState == FtpState::Downloading
        || m_ftpState == FtpState::Uploading) {
        const std::int64_t total = m_data.totalSize();
        return total == 0 ? 0 : static_cast<int>(m_data.bytesDone() * 100 / total);
    }
    const int limit = timeout();
    return limit == 0 ? 0 : static_cast<int>((nowSeconds() - m_lastActivity) * 100 / limit);
}

// ---- commands and replies ----

bool FtpConnection::sendCommand(const std::string &text)
{
    // A kept PORT belongs before any other command, as if it had gone out at once.
    if (!m_deferredPort.empty())
        sendDeferredPort();
    return sendWire(text, text);
}

bool FtpConnection::sendCommandPair(const std::string &first, const std::string &second)
{
    return sendWire(first + second, first);
}

void FtpConnection::showCommandSent(const std::string &command) const
{
    if (std::string shown = withoutLineEnd(command); !shown.empty())
        notify(NotifyCommandSent, 0, 0, shown);
}

bool FtpConnection::sendWire(const std::string &wire, const std::string &shownCommand)
{
    const bool quit = wire == "QUIT\r\n";
    if (m_closingReplyOwed && !quit && !m_control.isStopRequested()) {
        // The transfer before was stopped before its closing reply came: read it now, so this
        // command gets its own reply.
        m_closingReplyOwed = false;
        m_control.clearError();
        readReply();
    }
    // Any TYPE, ours or typed by the user, leaves the type unknown until its reply says otherwise.
    if (wire.size() >= 4 && ::strncasecmp(wire.c_str(), "TYPE", 4) == 0)
        m_transferType = 0;
    // A stopped connection still says goodbye: one write that waits for nothing.
    const bool sent =
        quit && m_control.isStopRequested() ? m_control.sendTextOnce(wire) : m_control.sendText(wire, false);
    showCommandSent(shownCommand);
    if (!isConnected())
        setFtpState(FtpState::Closed);
    return sent;
}

int FtpConnection::readReply(std::string *firstLine, std::vector<std::string> *allLines)
{
    const int code = m_control.readReply(timeout(), &m_replyLines);
    if (code < 0 && m_control.error().is(CatSocket, platform::kSocketMessageTooLong))
        logStatus("The server's reply is too long (a line over "
            + std::to_string(SocketConnection::kMaxLineBytes) + " bytes or a reply over "
            + std::to_string(SocketConnection::kMaxReplyBytes) + " bytes): connection closed");
    if (firstLine)
        *firstLine = m_replyLines.empty() ? std::string() : m_replyLines.front();
    if (allLines)
        allLines->assign(m_replyLines.begin(), m_replyLines.end());
    std::deque<std::string> lines;
    lines.swap(m_replyLines);
    if (allLines)
        allLines->assign(lines.begin(), lines.end());
    for (const std::string &line : lines)
        notify(NotifyReplyReceived, 0, 0, line);
    if (!isConnected())
        setFtpState(FtpState::Closed);
    return code;
}

bool FtpConnection::command(const std::string &text, int success, int alsoSuccess, std::int32_t failure)
{
    sendCommand(text);
    const int code = readReply();
    if (code == success || code == alsoSuccess)
        return true;
    setProtocolError(failure);
    return false;
}

bool FtpConnection::login(const FtpSite &site)
{
    setConnectionId(site.connectionId);
    setFtpState(FtpState::Fresh);
    m_closingReplyOwed = false;
    // A stop is kept: it may have come for this very login, after the owner cleared the last one
    // (reset() or clearStop()) and looked at its own reasons to stop.
    m_aborted.store(m_stop.isSet());
    m_transferType = 0;
    m_features.reset();
    m_hashAlgorithm.clear();
    m_control.clearError();
    m_data.clearError();
    // A new connection may reach a server that knows EPSV: ask again.
    m_epsvRefused = false;
    m_security = site.security;
    m_sessions.clear();
    m_control.setConnectTimeoutSeconds(timeout());
    m_control.setProxy(site.proxy);
    m_data.setProxy(site.proxy);
    if (!m_control.connect(site.host, site.port)) {
        if (!m_control.error().isProxyFailure())
            setProtocolError(ConnectFailed);
        return false;
    }
    logStatus("Connected to " + m_control.serverText());
    int ownPort = 0;
    m_control.localAddress(m_localAddressText, ownPort);
    if (m_security == FtpSecurity::ImplicitTls && !secureControl(site))
        return false;

    int greeting = readReply();
    // 120 is preliminary ("Service ready in nnn minutes"): the 220 follows, within the time-out.
    const auto waitEnds = std::chrono::steady_clock::now() + std::chrono::seconds(timeout());
    while (greeting == 120 && std::chrono::steady_clock::now() < waitEnds) {
        const int next = readReply();
        if (next == -1)
            break;
        greeting = next;
    }
    if (greeting != 220) {
        setProtocolError(greeting == 120 ? ServerNotReady
                : greeting == 421        ? ServerShutdown
                                         : UnexpectedResponse);
        return false;
    }
    if (m_security == FtpSecurity::ExplicitTls && !(askForTls() && secureControl(site)))
        return false;
    setFtpState(FtpState::UserSent);
    sendCommand("USER " + site.user + "\r\n");
    int code = readReply();
    if (code == 331) {
        setFtpState(FtpState::PassSent);
        sendCommand("PASS " + site.password + "\r\n");
        code = readReply();
    } else if (code != 230) {
        setProtocolError(UsernameInvalid);
        return false;
    }
    if (code != 230) {
        setProtocolError(PasswordInvalid);
        return false;
    }
    if (m_security != FtpSecurity::Plain && !protectData())
        return false;
    setFtpState(FtpState::Idle);
    log("Connection Established", kLogConnected);
    return true;
}

// ---- TLS ----

void FtpConnection::setTlsFailure(const std::string &reason)
{
    m_control.setError(CatProtocol, TlsFailed);
    m_control.setErrorDetail(reason);
    log(reason, kLogOutcome);
}

bool FtpConnection::askForTls()
{
    sendCommand("AUTH TLS\r\n");
    std::string line;
    const int code = readReply(&line);
    if (code != 234) {
        // Never carry on in the clear: the user asked for an encrypted connection.
        if (!m_control.isStopRequested())
            setTlsFailure("The server refused TLS: " + (line.empty() ? std::string("no reply") : line));
        return false;
    }
    // Whatever came after the 234 was sent before the encryption started and could have been put there
    // by anyone on the way: it must never be read as a reply of the encrypted session.
    m_control.replyReader().clear();
    return true;
}

bool FtpConnection::secureControl(const FtpSite &site)
{
    TlsOptions options = site.tls;
    options.host = site.host;
    options.resume = nullptr;
    options.sessionPool = &m_sessions;
    TlsOutcome outcome;
    if (!upgradeToTls(m_control, options, timeout(), &outcome)) {
        const ErrorCode error = m_control.error();
        if (!error.isStop())
            log(error.detail(), kLogOutcome);
        m_control.close();
        m_control.setError(error); // closing must not hide why
        setFtpState(FtpState::Closed);
        return false;
    }
    m_dataTls = options;
    m_dataTls.waitForPeerClose = true;
    logStatus(outcome.kernelSend ? "TLS established (kernel TLS)" : "TLS established");
    return true;
}

bool FtpConnection::protectData()
{
    // PBSZ 0 is a formality before PROT for TLS; PROT P is what makes the data connections private.
    sendCommand("PBSZ 0\r\n");
    readReply();
    sendCommand("PROT P\r\n");
    std::string line;
    if (readReply(&line) == 200)
        return true;
    if (!m_control.isStopRequested())
        setTlsFailure("The server refused encrypted data connections: " + (line.empty() ? "no reply" : line));
    return false;
}

bool FtpConnection::printWorkingDirectory(std::string &path)
{
    sendCommand("PWD\r\n");
    std::string line;
    if (readReply(&line) != 257) {
        setProtocolError(UnexpectedResponse);
        return false;
    }
    path = workingDirectoryOf(line);
    if (path.empty()) {
        setProtocolError(MalformedResponse);
        return false;
    }
    return true;
}

bool FtpConnection::changeDirectory(const std::string &path)
{
    std::string target = trimBlanks(path);
    if (target.empty())
        target = "/";
    sendCommand("cwd " + target + "\r\n");
    int code = readReply();
    if (code != 200 && code != 250 && target[0] == '/') {
        // Some servers refuse an absolute path that works relative to the login directory.
        sendCommand("cwd " + target.substr(1) + "\r\n");
        code = readReply();
    }
    if (code == 200 || code == 250)
        return true;
    setProtocolError(UnexpectedResponse);
    return false;
}

bool FtpConnection::fileSize(const std::string &name, std::int64_t &sizeBytes)
{
    sendCommand("SIZE " + name + "\r\n");
    std::string line;
    if (readReply(&line) != 213) {
        setProtocolError(UnexpectedResponse);
        return false;
    }
    // "213 1234": the size alone follows the code.
    const std::size_t start = line.find_first_not_of(' ', 3);
    if (start == std::string::npos || line.size() < 4 || line[3] != ' ') {
        setProtocolError(MalformedResponse);
        return false;
    }
    std::int64_t value = 0;
    std::size_t at = start;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) {
            setProtocolError(MalformedResponse);
            return false;
        }
        value = value * 10 + (line[at] - '0');
    }
    if (at == start) {
        setProtocolError(MalformedResponse);
        return false;
    }
    sizeBytes = value;
    return true;
}

bool FtpConnection::makeDirectory(const std::string &path)
{
    return command("mkd " + path + "\r\n", 257, 257, PermissionDenied);
}

bool FtpConnection::removeDirectory(const std::string &path)
{
    return command("rmd " + path + "\r\n", 250, 250, PermissionDenied);
}

bool FtpConnection::deleteFile(const std::string &path)
{
    return command("dele " + path + "\r\n", 250, 250, PermissionDenied);
}

bool FtpConnection::rename(const std::string &from, const std::string &to)
{
    return command("rnfr " + from + "\r\n", 350, 350, PermissionDenied)
        && command("rnto " + to + "\r\n", 250, 250, PermissionDenied);
}

bool FtpConnection::quit()
{
    log("Sending QUIT command...", kLogQuit);
    sendCommand("QUIT\r\n");
    // After an abort the server may still be busy with the stopped command, or never answer: leaving
    // must not wait for its goodbye.
    const bool answered = m_aborted.load() || readReply() > 0;
    closeDataConnections();
    m_control.shutdown(ShutdownDirection::Send);
    m_control.close();
    setFtpState(FtpState::Closed);
    return answered;
}

bool FtpConnection::isControlDropped()
{
    if (!isConnected())
        return true;
    // An idle connection has nothing to say: whatever waits is the server's goodbye or its close.
    if (!m_control.replyReader().hasLines() && !m_control.waitReadable(0)) {
        m_control.clearErrorUnlessStopped();
        return !isConnected();
    }
    const int code = readReply();
    if (code == -1 || code == 421 || !isConnected())
        return true;
    // Any other reply was the closing reply a stopped transfer still owed.
    m_closingReplyOwed = false;
    return false;
}

void FtpConnection::disconnect(int reason)
{
    const FtpState state = ftpState();
    if (state == FtpState::Fresh || state == FtpState::Closed)
        return;
    log("Disconnect: " + std::to_string(reason), kLogOutcome);
    quit();
}

void FtpConnection::abort(int code)
{
    m_aborted.store(true);
    // Shared by the control, data and listening sockets: whichever wait runs ends.
    m_stop.request(code);
}

// ---- listing entries ----

bool FtpConnection::parseNextEntry(const std::string &pattern)
{
    return m_parser.parseNextEntry(pattern);
}

std::string FtpConnection::entryName() const
{
    return m_parser.entryName();
}

bool FtpConnection::entryIsDirectory() const
{
    return m_parser.entryIsDirectory();
}

std::int64_t FtpConnection::entrySize() const
{
    return m_parser.entrySize();
}

const EntryTime &FtpConnection::entryTime() const
{
    return m_parser.entryTime();
}

std::string FtpConnection::listingText() const
{
    return m_parser.listingText();
}

bool FtpConnection::isFullListing() const
{
    return m_parser.isFullListing();
}

} // namespace bw::net
