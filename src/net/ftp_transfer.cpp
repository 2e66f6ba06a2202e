// SPDX-License-Identifier: MIT
// FTP data transfers: passive and active set-up, TYPE, REST resume, RETR, STOR, LIST and NLST, and
// the completion poll that reads the server's closing reply.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>

#include <fcntl.h>
#include <sys/stat.h>

#include "net/ftp_connection.h"
#include "net/log_levels.h"
#include "net/tls_upgrade.h"
#include "platform/file_util.h"
#include "platform/unique_fd.h"

namespace bw::net {

namespace {

constexpr int kAcceptSeconds = 30; // when the connection has no time-out of its own
constexpr int kAcceptSliceMs = 100;
constexpr int kListenBacklog = 5;
constexpr int kListingPollMs = 250;
constexpr int kFirstPauseMs = 10;
constexpr int kLongestPauseMs = 1000;

// Finds the six numbers h1,h2,h3,h4,p1,p2 anywhere in a 227 reply: servers put them in
// parentheses, after "=", or bare at the end. False when there are no six numbers of 0..255.
bool findPassiveAddress(const std::string &reply, std::string &host, int &port)
{
    static const std::regex sixNumbers(
        R"((\d{1,3})\s*,\s*(\d{1,3})\s*,\s*(\d{1,3})\s*,\s*(\d{1,3})\s*,\s*(\d{1,3})\s*,\s*(\d{1,3}))");
    // The code itself is not one of the numbers.
    const std::string text = reply.size() > 3 ? reply.substr(3) : std::string();
    std::smatch match;
    if (!std::regex_search(text, match, sixNumbers))
        return false;
    int numbers[6];
    for (int i = 0; i < 6; ++i) {
        numbers[i] = std::stoi(match[i + 1].str());
        if (numbers[i] > 255)
            return false;
    }
    host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2])
        + "." + std::to_string(numbers[3]);
    port = numbers[4] * 256 + numbers[5];
    return true;
}

// True when `path` is a regular file this process can open for reading.
bool canReadFile(const std::string &path)
{
    platform::UniqueFd fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};

    struct stat info
    {};

    return fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode);
}

// RFC 2428: "229 Entering Extended Passive Mode (|||6446|)"; the delimiter is the first character
// inside the parentheses, and the address fields are empty. False without a port of 1..65535.
bool findExtendedPassivePort(const std::string &reply, int &port)
{
    const std::size_t open = reply.find('(');
    const std::size_t close = reply.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos || close - open < 6)
        return false;
    const std::string inside = reply.substr(open + 1, close - open - 1);
    const char delimiter = inside[0];
    if (inside.size() < 5 || inside[1] != delimiter || inside[2] != delimiter || inside.back() != delimiter)
        return false;
    const std::string digits = inside.substr(3, inside.size() - 4);
    if (digits.empty() || digits.size() > 5
        || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    port = std::stoi(digits);
    return port >= 1 && port <= 65535;
}

} // namespace

int FtpConnection::askExtendedPassivePort()
{
    sendCommand("EPSV\r\n");
    std::string line;
    const int code = readReply(&line);
    // 500/501/502 (not understood, not implemented) and 522 (other network protocol) are refusals:
    // the server may still take PASV. Anything else is a failure of its own.
    if (code >= 500 && code <= 599)
        return 0;
    if (code != 229) {
        setProtocolError(UnexpectedResponse);
        return -1;
    }
    int port = 0;
    if (!findExtendedPassivePort(line, port)) {
        setProtocolError(MalformedResponse);
        return -1;
    }
    return port;
}

bool FtpConnection::enterPassive(bool waitForConnect)
{
    if (!m_epsvRefused) {
        const int port = askExtendedPassivePort();
        if (port < 0)
            return false;
        if (port > 0) {
            // EPSV names only a port: the data comes from the server the control connection talks to.
            m_pasvHost = m_control.peerAddress();
            m_pasvPort = port;
            return connectDataConnection(m_pasvHost, port, waitForConnect);
        }
        m_epsvRefused = true;
        log("EPSV refused: using PASV on this connection", kLogOutcome);
    }
    sendCommand("PASV\r\n");
    std::string line;
    if (readReply(&line) != 227) {
        setProtocolError(UnexpectedResponse);
        return false;
    }
    std::string host;
    int port = 0;
    if (!findPassiveAddress(line, host, port)) {
        setProtocolError(MalformedResponse);
        return false;
    }
    m_pasvHost = host;
    m_pasvPort = port;
    return connectDataConnection(host, port, waitForConnect);
}

bool FtpConnection::connectDataConnection(const std::string &announcedHost, int port, bool wait)
{
    // The announced address is not trusted: a server (or whoever rewrote the reply) could point the
    // data connection at any host. The data comes from the server the control connection talks to.
    std::string target = announcedHost;
    if (const std::string peer = m_control.peerAddress(); !peer.empty() && peer != announcedHost) {
        logStatus("PASV address " + announcedHost + " differs from the server's " + peer + ": connecting to "
            + peer + " port " + std::to_string(port));
        target = peer;
    }
    m_data.setConnectTimeoutSeconds(timeout());
    if (!wait) {
        // The transfer command goes out while the connection is made; it is finished after.
        if (m_data.beginConnect(target, port)) {
            m_dataConnectPending = true;
            return true;
        }
        setProtocolError(DataConnectionFailed);
        return false;
    }
    if (!m_data.createSocket() || !m_data.connect(target, port)) {
        setProtocolError(DataConnectionFailed);
        return false;
    }
    return true;
}

bool FtpConnection::listenForData(std::string &portCommand)
{
    std::string ignored;
    int port = 0;
    const bool ipv6 = m_control.isIpv6();
    if (!m_listener.createAndBind(0, ipv6 ? IpFamily::V6 : IpFamily::V4)
        || !m_listener.localAddress(ignored, port)) {
        setProtocolError(DataConnectionFailed);
        return false;
    }
    if (ipv6) {
        // RFC 2428: EPRT |2|address|port| carries an IPv6 address, which PORT cannot.
        portCommand = "EPRT |2|" + m_localAddressText + "|" + std::to_string(port) + "|\r\n";
    } else {
        std::string address = m_localAddressText;
        std::replace(address.begin(), address.end(), '.', ',');
        portCommand =
            "PORT " + address + "," + std::to_string(port / 256) + "," + std::to_string(port % 256) + "\r\n";
    }
    if (!m_listener.listen(kListenBacklog)) {
        setProtocolError(DataConnectionFailed);
        return false;
    }
    return true;
}

bool FtpConnection::enterActive()
{
    std::string portCommand;
    if (!listenForData(portCommand))
        return false;
    sendCommand(portCommand);
    if (readReply() != 200) {
        setProtocolError(DataConnectionFailed);
        return false;
    }
    return true;
}

bool FtpConnection::sendDeferredPort()
{
    if (m_deferredPort.empty())
        return true;
    const std::string portCommand = std::exchange(m_deferredPort, {});
    sendCommand(portCommand);
    if (readReply() != 200) {
        setProtocolError(DataConnectionFailed, true);
        return false;
    }
    return true;
}

int FtpConnection::sendTransferCommand(const std::string &command)
{
    if (std::exchange(m_dataConnectPending, false)) {
        // The passive data connection was started before the command went out: one round trip
        // fewer per transfer on a distant server.
        sendCommand(command);
        const bool connected = m_data.finishConnect();
        const int code = readReply();
        // A refused command stays a refusal (the server may close its listener with it).
        if (connected || code >= 400)
            return code;
        log(m_data.error().detail(), kLogOutcome);
        // The server waits for the data connection that failed: its final answer is still to come,
        // and the next command reads it first.
        m_closingReplyOwed = code >= 100 && code < 200;
        setProtocolError(DataConnectionFailed, true);
        return kDataPathFailed;
    }
    if (m_deferredPort.empty()) {
        sendCommand(command);
        return readReply();
    }
    // The server almost always takes the PORT: it goes out in one write with the command that uses
    // it, one round trip instead of two. The log still shows each command before its reply.
    const std::string portCommand = std::exchange(m_deferredPort, {});
    sendCommandPair(portCommand, command);
    const int portCode = readReply();
    showCommandSent(command);
    if (portCode == 200)
        return readReply();
    if (portCode != -1) {
        // The command was refused too (there is no data address); read its reply so the next
        // command gets its own.
        const int code = readReply();
        if (code >= 100 && code < 200)
            readReply();
    }
    setProtocolError(DataConnectionFailed, true);
    return kDataPathFailed;
}

bool FtpConnection::setUpDataConnection(bool passive)
{
    m_passive = passive;
    m_deferredPort.clear();
    m_dataConnectPending = false;
    const bool ready = passive ? enterPassive(false) : listenForData(m_deferredPort);
    if (ready)
        return true;
    setProtocolError(DataConnectionFailed, true);
    return false;
}

bool FtpConnection::acceptActiveConnection()
{
    if (m_passive)
        return true;
    // Waited for in short slices, so that besides a stop request a reply ends the wait at once: a
    // server that cannot connect says so (425) instead of leaving us to wait out the time-out.
    const int limitSeconds = timeout() > 0 ? timeout() : kAcceptSeconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    for (;;) {
        if (m_listener.acceptInto(m_data, std::chrono::milliseconds(kAcceptSliceMs))) {
            m_listener.close();
            return true;
        }
        if (m_control.isStopRequested() || m_listener.isStopRequested() || m_listener.error().isSet()) {
            // The server still answers the command; the next one reads that answer first.
            m_closingReplyOwed = true;
            break;
        }
        if (m_control.replyReader().hasLines() || m_control.waitReadable(0)) {
            // The command's closing reply came instead of the connection.
            std::string line;
            readReply(&line);
            log("No data connection from the server: " + line, kLogOutcome);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            log("The server did not open the data connection in time", kLogOutcome);
            m_closingReplyOwed = true;
            break;
        }
    }
    setProtocolError(DataConnectionFailed, true);
    return false;
}

bool FtpConnection::secureDataConnection()
{
    if (m_security == FtpSecurity::Plain)
        return true;
    // A server that insists on session reuse refuses a data connection that did not resume the
    // control connection's session: it proves the data connection comes from the same client.
    TlsSession session = m_sessions.next();
    if (!session)
        session = sessionOf(m_control);
    TlsOptions options = m_dataTls;
    options.resume = session.get();
    TlsOutcome outcome;
    if (upgradeToTls(m_data, options, timeout(), &outcome)) {
        if (!outcome.sessionReused)
            log("The data connection did not resume the TLS session", kLogOutcome);
        return true;
    }
    const ErrorCode error = m_data.error();
    closeDataConnections();
    if (error.isStop() || m_control.isStopRequested()) {
        // The server still answers the command; the next one reads that answer first.
        m_closingReplyOwed = true;
        return false;
    }
    log(error.detail(), kLogOutcome);
    // The server ends the command with a failure reply: read it, so the next command gets its own.
    readReply();
    m_control.setError(error);
    return false;
}

// The steps every file transfer starts with: note the start time, set the type, open the data path.
bool FtpConnection::prepareFileTransfer(bool binary, bool passive)
{
    {
        std::lock_guard lock{m_ftpLock};
        m_transferStart = nowSeconds();
    }
    m_passive = passive;
    // The type holds until changed: a second file of the same type needs no TYPE round trip.
    const char type = binary ? 'I' : 'A';
    if (m_transferType != type) {
        sendCommand(binary ? "TYPE I\r\n" : "TYPE A\r\n");
        if (readReply() != 200) {
            setProtocolError(UnexpectedResponse, true);
            return false;
        }
        m_transferType = type;
    }
    return setUpDataConnection(passive);
}

// Sends RETR or STOR; a preliminary 125 or 150 means the server opens (or accepts) the data connection.
bool FtpConnection::openTransfer(const std::string &command, const std::string &localPath, FtpState state)
{
    const int code = sendTransferCommand(command);
    if (code == kDataPathFailed)
        return false;
    if (code != 125 && code != 150) {
        setProtocolError(PermissionDenied, true);
        return false;
    }
    if (!acceptActiveConnection() || !secureDataConnection())
        return false;
    m_transferPath = localPath;
    setFtpState(state);
    return true;
}

bool FtpConnection::completeTransfer()
{
    const bool ok = waitTransfer(0);
    finishTransfer();
    return ok;
}

bool FtpConnection::runsHere(std::int64_t size) const
{
    // A file this small moves in a moment, so no progress between its start and end is missed; the
    // job watches its own stalls with the time-out, which needs one.
    return size > 0 && size <= kRunHereBytes && timeout() > 0;
}

bool FtpConnection::download(const std::string &localPath, const std::string &remoteName, bool binary,
    bool passive, std::int64_t knownSize, bool resume, bool wait)
{
    log("Downloading File: " + remoteName, kLogFileName);
    if (!prepareFileTransfer(binary, passive))
        return false;
    m_data.setAppendMode(false);
    if (resume) {
        // Resume from the local file's length; a refused REST writes the file again from its start.
        const std::int64_t length = std::max<std::int64_t>(platform::fileSize(localPath), 0);
        if (length > 0) {
            if (!sendDeferredPort())
                return false;
            sendCommand("REST " + std::to_string(length) + "\r\n");
            m_data.setAppendMode(readReply() == 350);
        }
    }
    if (!openTransfer("RETR " + remoteName + "\r\n", localPath, FtpState::Downloading))
        return false;
    m_data.setTotalSize(knownSize);
    if (wait && runsHere(knownSize)) {
        m_data.receiveFileHere(localPath, binary, true, timeout());
        return completeTransfer();
    }
    m_data.beginReceiveFile(localPath, binary, true);
    return wait ? completeTransfer() : true;
}

bool FtpConnection::upload(
    const std::string &localPath, const std::string &remoteName, bool binary, bool passive, bool wait)
{
    log("Uploading File: " + remoteName, kLogFileName);
    // STOR truncates the remote file at once: a local file that cannot be read must stop the upload
    // before anything is sent, or every retry would wipe what the server holds.
    if (!canReadFile(localPath)) {
        m_control.setLocalError(FileOpenError);
        log(std::string(error().text()) + " [" + localPath + "]", kLogOutcome);
        return false;
    }
    if (!prepareFileTransfer(binary, passive))
        return false;
    if (!openTransfer("STOR " + remoteName + "\r\n", localPath, FtpState::Uploading))
        return false;
    if (wait && runsHere(platform::fileSize(localPath))) {
        m_data.sendFileHere(localPath, binary, 0, true, timeout());
        return completeTransfer();
    }
    m_data.beginSendFile(localPath, binary, 0, true);
    return wait ? completeTransfer() : true;
}

bool FtpConnection::list(const std::string &path, bool full, bool passive)
{
    {
        std::lock_guard lock{m_ftpLock};
        m_transferStart = nowSeconds();
    }
    m_parser.setListing({}, full);
    if (!setUpDataConnection(passive))
        return false;
    // The listing goes to a file created exclusively, never to a name another user could predict.
    const std::filesystem::path file = platform::createTempFile("ftp");
    if (file.empty()) {
        m_control.setLocalError(FileOpenError);
        closeDataConnections();
        return false;
    }
    std::error_code ignored;
    const int code =
        sendTransferCommand(std::string(full ? "LIST" : "NLST") + (path.empty() ? "" : " " + path) + "\r\n");
    if (code == kDataPathFailed) {
        std::filesystem::remove(file, ignored);
        return false;
    }
    if (code != 125 && code != 150) {
        setProtocolError(PermissionDenied, true);
        std::filesystem::remove(file, ignored);
        return false;
    }
    if (!acceptActiveConnection() || !secureDataConnection()) {
        std::filesystem::remove(file, ignored);
        return false;
    }
    m_transferPath = file.string();
    setFtpState(FtpState::Listing);
    m_data.setTotalSize(0);
    m_data.setAppendMode(false);
    m_data.beginReceiveFile(file.string(), true, true);
    int outcome;
    while ((outcome = pollTransfer()) == -1)
        m_data.waitIdle(kListingPollMs);
    finishTransfer();
    m_parser.loadFile(file, full);
    std::filesystem::remove(file, ignored);
    return outcome == 0;
}

int FtpConnection::pollTransfer()
{
    // Stall watch: a data connection that moved nothing for longer than the time-out is stopped.
    const std::int64_t now = nowSeconds();
    const std::int64_t stalledSeconds = m_data.isStalled() ? now - m_data.stallStartOrNow() : 0;
    if (timeout() < stalledSeconds)
        m_data.setStopError(DataIdleTimeout);

    const FtpState state = ftpState();
    if (state != FtpState::Listing && state != FtpState::Downloading && state != FtpState::Uploading)
        return -1;
    // Idleness first, then the counters: a job seen idle has its final counts, so the last notice
    // carries the whole file even when it arrived between two ticks.
    const bool idle = m_data.isIdle();
    notify(NotifyProgress, m_data.bytesDone(), m_data.totalSize(), {});
    if (!idle)
        return -1;

    std::int64_t started;
    {
        std::lock_guard lock{m_ftpLock};
        started = m_transferStart;
    }
    const std::int64_t seconds = nowSeconds() - started;
    const std::int64_t total = m_data.totalSize();
    const double speed =
        seconds > 0 ? static_cast<double>(total) / 1000.0 / static_cast<double>(seconds) : 0.0;

    const bool jobFailed = m_data.result() != 0;
    const ErrorCode jobError = m_data.error();
    if (!jobFailed && state != FtpState::Listing) {
        char line[1024];
        std::snprintf(line, sizeof line, "%s %s: %s - %lld bytes in %lld sec. (%.2f Kb/s)",
            state == FtpState::Downloading ? "[DOWN]" : "[UP]",
            state == FtpState::Downloading ? "File Downloaded" : "File Uploaded", m_transferPath.c_str(),
            static_cast<long long>(total), static_cast<long long>(seconds), speed);
        log(line, kLogOutcome);
    }
    closeDataConnections();
    // The closing reply is read in every case, so the control connection stays in step with the
    // server; a failed data job keeps its own error as the cause.
    const int code = readReply();
    // A stop request keeps the reply from being read now; the next command reads it first. The stop
    // is tested after the wait: abort() may stop the data connection first and the control one a
    // moment later, while this wait already runs.
    m_closingReplyOwed = code == -1 && m_control.isStopRequested();
    int outcome = 0;
    if (jobFailed) {
        m_control.setError(jobError);
        m_data.clearError();
        log(jobError.text(), kLogOutcome);
        outcome = 1;
    } else if (code != 226 && code != 250) {
        setProtocolError(PermissionDenied);
        outcome = 1;
    }
    m_passive = false;
    {
        std::lock_guard lock{m_ftpLock};
        m_lastActivity = nowSeconds();
        m_ftpState = FtpState::Idle;
    }
    return outcome;
}

bool FtpConnection::waitTransfer(int limitMs)
{
    int pause = kFirstPauseMs;
    int waited = 0;
    for (;;) {
        const FtpState state = ftpState();
        if (state != FtpState::Listing && state != FtpState::Downloading && state != FtpState::Uploading)
            return false; // nothing runs: there is no outcome to wait for
        const int outcome = pollTransfer();
        if (outcome != -1)
            return outcome == 0;
        const int wait = limitMs > 0 ? kFirstPauseMs : pause;
        // The pause ends early when the data connection's job ends.
        m_data.waitIdle(wait);
        waited += wait;
        if (limitMs > 0 && waited >= limitMs)
            return false;
        if (limitMs <= 0)
            pause = std::min(pause + kFirstPauseMs, kLongestPauseMs);
    }
}

bool FtpConnection::finishTransfer()
{
    closeDataConnections();
    return true;
}

} // namespace bw::net
