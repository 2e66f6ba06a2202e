// SPDX-License-Identifier: MIT
// The FTP data path: EPSV/PASV and the passive connect, the listener and PORT/EPRT of active mode,
// the transfer command with the commands it waits for, the accept of an active data connection and
// its TLS.
#include <algorithm>
#include <chrono>

#include "net/ftp_connection.h"
#include "net/ftp_passive_reply.h"
#include "net/log_levels.h"
#include "net/tls_upgrade.h"

namespace bw::net {

namespace {

constexpr int kAcceptSeconds = 30; // when the connection has no time-out of its own
constexpr int kAcceptSliceMs = 100;
constexpr int kListenBacklog = 5;

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
            // EPSV names only a port: the data comes from the server the control connection talks to
            // (behind the proxy, when it goes through one).
            m_pasvHost = m_control.serverHost();
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
    if (const std::string peer = m_control.serverHost(); !peer.empty() && peer != announcedHost) {
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
        keepProxyFailure(m_data.error(), DataConnectionFailed);
        return false;
    }
    if (!m_data.createSocket() || !m_data.connect(target, port)) {
        keepProxyFailure(m_data.error(), DataConnectionFailed);
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
    if (!passive && m_control.proxy().isSet()) {
        // The server would connect back to an address behind the proxy, which it cannot reach.
        setProtocolError(ActiveModeThroughProxy, true);
        return false;
    }
    const bool ready = passive ? enterPassive(false) : listenForData(m_deferredPort);
    if (ready)
        return true;
    if (!m_control.error().isProxyFailure())
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
            if (isFromServer(m_data)) {
                m_listener.close();
                return true;
            }
            // A stranger's connection was closed; the server's own may be queued behind it already, and
            // its closing reply may come before we take it, so look at the listener first.
            if (!m_control.isStopRequested() && std::chrono::steady_clock::now() < deadline)
                continue;
        }
        if (m_control.isStopRequested() || m_listener.error().isSet()) {
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

bool FtpConnection::isFromServer(SocketConnection &accepted)
{
    // Anyone who saw the PORT command could connect first and feed (or take) the file: only the host the
    // control connection talks to is the server.
    const std::string from = accepted.peerAddress();
    const std::string server = m_control.peerAddress();
    if (server.empty() || from == server)
        return true;
    log("Refused a data connection from " + from + ": the server is " + server, kLogOutcome);
    accepted.close();
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

} // namespace bw::net
