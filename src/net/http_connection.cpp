// SPDX-License-Identifier: MIT
#include "net/http_connection.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>

#include <arpa/inet.h>

#include "core/diagnostic_log.h"
#include "core/url.h"
#include "net/formatted_text.h"
#include "net/http_date.h"
#include "net/log_levels.h"
#include "platform/file_util.h"

namespace bw::net {

HttpConnection::HttpConnection() = default;

HttpConnection::~HttpConnection() = default;

std::vector<std::string> HttpConnection::authenticateFields() const
{
    std::lock_guard lock{m_httpLock};
    return m_header.authenticateFields();
}

HttpState HttpConnection::httpState() const
{
    std::lock_guard lock{m_httpLock};
    return m_httpState;
}

std::int64_t HttpConnection::transferStart() const
{
    std::lock_guard lock{m_httpLock};
    return m_transferStart;
}

std::optional<std::int64_t> HttpConnection::lastModified() const
{
    std::lock_guard lock{m_httpLock};
    return parseHttpDate(m_header.lastModified());
}

std::string HttpConnection::statusLine() const
{
    std::lock_guard lock{m_httpLock};
    if (m_headerStatus <= 0)
        return {};
    const std::string &reason = m_header.reason();
    return std::to_string(m_headerStatus) + (reason.empty() ? "" : " " + reason);
}

void HttpConnection::setHttpState(HttpState state)
{
    std::lock_guard lock{m_httpLock};
    m_httpState = state;
}

bool HttpConnection::connect(const std::string &host, int port, const std::string & /*user*/,
    const std::string & /*password*/, int connectionId)
{
    setConnectionId(connectionId);
    setHttpState(HttpState::Unknown);
    m_socket.clearError();
    m_host = host;
    m_port = port;
    m_socket.setConnectTimeoutSeconds(timeout());
    if (!connectRoute(host, port)) {
        if (!m_socket.error().isProxyFailure())
            m_socket.setError(CatProtocol, ConnectFailed);
        return false;
    }
    const std::string connected = "Connected to "
        + (m_proxy.isSet() ? host + " port " + std::to_string(port) + " via proxy " + m_proxy.address()
                           : m_socket.peerAddress() + " port " + std::to_string(port));
    log(connected, kLogConnected);
    notify(NotifyStatus, 0, 0, connected);
    m_tlsOutcome = {};
    if (m_tls) {
        TlsOptions options = *m_tls;
        options.host = host;
        if (!upgradeToTls(m_socket, std::move(options), timeout(), &m_tlsOutcome)) {
            const ErrorCode error = m_socket.error();
            if (!error.isStop())
                log(error.detail(), kLogOutcome);
            m_socket.close();
            m_socket.setError(error); // closing must not hide why
            return false;
        }
        log(m_tlsOutcome.kernelSend ? "TLS established (kernel TLS)" : "TLS established", kLogConnected);
    }
    setHttpState(HttpState::Idle);
    log("Connection Established", kLogConnected);
    return true;
}

std::string HttpConnection::hostHeaderValue(const std::string &host, int port, int defaultPort)
{
    // RFC 9110 7.2: the authority of the target URI, its port included unless it is the scheme's
    // default, so that a server hosting several sites by name picks the right one. An IPv6 address
    // goes in brackets, or its colons would read as the port's. An IPv4 address names no site and
    // goes alone, as it always has.
    in_addr ipv4{};
    if (::inet_pton(AF_INET, host.c_str(), &ipv4) == 1)
        return host;
    std::string value = core::hostForUrl(host);
    if (port != defaultPort)
        value += ":" + std::to_string(port);
    return value;
}

std::vector<std::string> HttpConnection::requestLines(const std::string &requestPath, const std::string &host,
    std::int64_t localSize, const std::string &authorization)
{
    std::vector<std::string> lines;
    lines.push_back("GET " + requestPath + " HTTP/1.1\r\n");
    lines.push_back("Host: " + host + "\r\n");
    lines.push_back("User-Agent: Bellwick/" BW_VERSION "\r\n");
    if (localSize > 0)
        lines.push_back("Range: bytes=" + std::to_string(localSize) + "-\r\n");
    if (!authorization.empty())
        lines.push_back("Authorization: " + authorization + "\r\n");
    lines.emplace_back(kWantReprDigestLine);
    lines.push_back("\r\n");
    return lines;
}

void HttpConnection::sendLine(const std::string &line)
{
    // A broken connection shows up as a failed receive, so the send result is not checked here.
    m_socket.sendText(line, false);
    std::string shown = line.starts_with("Proxy-Authorization:") ? "Proxy-Authorization: ****" : line;
    while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n'))
        shown.pop_back();
    if (shown.starts_with("Authorization: "))
        shown = shown.substr(0, shown.find(' ', 15)) + " ********"; // the scheme, never the login
    if (!shown.empty())
        notify(NotifyCommandSent, 0, 0, shown);
}

bool HttpConnection::takeInterimResponses(std::string &chunk, bool &headerOpen)
{
    while (true) {
        const int found = m_header.parseChunk(chunk, headerOpen);
        if (found >= 0)
            m_headerStatus = found; // a later status line overrides an earlier one
        if (headerOpen || !isInterimStatus(m_headerStatus))
            return true;
        // "100 Continue", "103 Early Hints": the real response follows. Together they may not exceed
        // one header's limit, or a server could send them for ever.
        m_interimBytes += m_header.headerBytes();
        if (m_interimBytes > HttpHeaderParser::kMaxHeaderBytes)
            return false;
        m_header.reset();
        m_headerStatus = -1;
        headerOpen = true;
    }
}

int HttpConnection::parseHeader(std::string &chunk, bool &headerOpen)
{
    int status = -1;
    std::int64_t expectedTotal = -1;
    bool hasLocation = false;
    std::string location;
    bool tooLong = false;
    bool emptyBody = false;
    bool rangeMismatch = false;
    {
        std::lock_guard lock{m_httpLock};
        tooLong = !takeInterimResponses(chunk, headerOpen) || m_header.isTooLong();
        hasLocation = m_header.hasLocation();
        if (hasLocation)
            location = m_header.location();
        // The status is reported only once the header is complete: a response whose header breaks
        // off (closed, timed out, too long) must fail before its file is opened, never have header
        // bytes written as its body.
        if (!headerOpen && !tooLong) {
            m_headerDone = true;
            status = m_headerStatus;
            m_framing = httpFraming({status, false, m_header.isHttp10(), m_header.contentLengthFields(),
                m_header.transferEncodingFields()});
            // A part that does not start where the local file ends would be appended at the wrong place.
            // A part without a readable range (-1) cannot be placed either.
            m_rangeMismatch = status == 206 && m_header.rangeFirstByte() != m_requestOffset;
            // A segment answered with the whole file: If-Range found another version. Not one byte of
            // it may land at the segment's place.
            m_rangeRefused = m_range && status >= 200 && status <= 299 && status != 206;
            rangeMismatch = m_rangeRefused;
            emptyBody = m_framing.kind == HttpFraming::Kind::NoBody
                || m_framing.kind == HttpFraming::Kind::Invalid
                || (m_framing.kind == HttpFraming::Kind::Length && m_framing.length == 0);
            // A partial response counts the part already here, so that the total matches the bytes done.
            if (m_framing.kind == HttpFraming::Kind::Length && m_framing.length > 0)
                expectedTotal = m_framing.length + (status == 206 ? m_requestOffset : 0);
            rangeMismatch = rangeMismatch || m_rangeMismatch;
            startDigestFromHeader();
        }
    }
    if (expectedTotal > 0)
        m_socket.setTotalSize(expectedTotal);
    // An interim response's Location is no target.
    m_socket.setErrorDetail(hasLocation ? std::move(location) : std::string());
    if (tooLong || rangeMismatch || emptyBody) {
        // Refuse a header without end rather than buffer it, and a misplaced part rather than write
        // it; a response without a body (or without a readable length) has nothing more to read, even
        // if the server keeps the connection open. Closing ends the receive at once.
        chunk.clear();
        m_socket.close();
    }
    return status;
}

bool HttpConnection::mayReceiveBody()
{
    std::lock_guard lock{m_httpLock};
    return m_framing.kind != HttpFraming::Kind::NoBody && m_framing.kind != HttpFraming::Kind::Invalid;
}

bool HttpConnection::filterBody(char *data, std::int64_t &length, bool &bodyEnded)
{
    std::lock_guard lock{m_httpLock};
    if (m_framing.kind == HttpFraming::Kind::Chunked) {
        const auto result = m_chunked.decode(data, length);
        if (result == HttpChunkedDecoder::Result::Malformed) {
            m_bodyMalformed = true;
            return false;
        }
        m_bodyReceived += length;
        bodyEnded = result == HttpChunkedDecoder::Result::Done;
        return true;
    }
    if (m_framing.kind == HttpFraming::Kind::Length) {
        // Bytes past the declared length (or past the segment's end) are not the file's.
        length = std::min(length, segmentBytesLeft());
        m_bodyReceived += length;
        bodyEnded = segmentBytesLeft() == 0;
        return true;
    }
    m_bodyReceived += length;
    return true;
}

std::int64_t HttpConnection::segmentBytesLeft() const
{
    std::int64_t left = m_framing.kind == HttpFraming::Kind::Length
        ? m_framing.length - m_bodyReceived
        : std::numeric_limits<std::int64_t>::max();
    if (m_range && m_range->endByte)
        left = std::min(left, m_range->endByte->load() - m_range->firstByte - m_bodyReceived);
    return std::max<std::int64_t>(left, 0);
}

std::int64_t HttpConnection::bytesPassableUnseen()
{
    std::lock_guard lock{m_httpLock};
    if (m_framing.kind == HttpFraming::Kind::Chunked)
        return 0;
    return segmentBytesLeft(); // without a length, the body runs to the close
}

void HttpConnection::passedUnseen(std::int64_t length, bool &bodyEnded)
{
    std::lock_guard lock{m_httpLock};
    m_bodyReceived += length;
    bodyEnded = m_framing.kind == HttpFraming::Kind::Length && segmentBytesLeft() == 0;
}

void HttpConnection::mapFailure(const std::string &localPath)
{
    const ErrorCode record = error();
    bool tooLong = false;
    {
        std::lock_guard lock{m_httpLock};
        tooLong = m_header.isTooLong() || m_interimBytes > HttpHeaderParser::kMaxHeaderBytes;
    }
    if (tooLong)
        log(formatted("Response header longer than %zu bytes [%s]", HttpHeaderParser::kMaxHeaderBytes,
                localPath.c_str()),
            kLogOutcome);
    else if (record.isSet())
        log(std::string(record.text()) + " [" + localPath + "]", kLogOutcome);

    const int status = record.status();
    std::int32_t code = UnexpectedResponse;
    if (status >= 300 && status <= 303)
        code = record.detail().empty() ? UnexpectedResponse : UrlRedirected; // a redirect needs a target
    else if (status >= 400 && status <= 499 && status != 403)
        code = PermissionDenied;
    m_socket.setError(CatProtocol, code);
}

void HttpConnection::beginResponse(std::int64_t localSize)
{
    {
        std::lock_guard lock{m_httpLock};
        m_header.reset();
        m_headerStatus = -1;
        m_interimBytes = 0;
        m_framing = {};
        m_chunked.reset();
        m_bodyReceived = 0;
        m_bodyMalformed = false;
        m_rangeMismatch = false;
        m_rangeRefused = false;
        m_headerDone = false;
        m_requestOffset = localSize;
    }
    // A status or Location of an earlier response must not be taken for this one's.
    m_socket.setErrorStatus(-1);
    m_socket.setErrorDetail({});
    m_socket.setTotalSize(0);
}

bool HttpConnection::download(const std::string &localPath, const std::string &requestPath)
{
    {
        std::lock_guard lock{m_httpLock};
        m_transferStart = m_socket.clock().nowSeconds();
    }
    std::optional<HttpRange> range;
    {
        std::lock_guard lock{m_httpLock};
        range = m_range;
    }
    const std::int64_t localSize =
        range ? range->firstByte : std::max<std::int64_t>(0, platform::fileSize(localPath));
    m_socket.setWriteOffset(range ? range->firstByte : -1);
    beginResponse(localSize);

    // A line break in the path or host would end the request line early and let the rest pass as
    // headers of its own: refuse such a request before anything is sent.
    if (requestPath.find_first_of(std::string("\r\n\0", 3)) != std::string::npos
        || m_host.find_first_of(std::string("\r\n\0", 3)) != std::string::npos
        || (range && range->validator.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        || m_authorization.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        m_socket.setError(CatProtocol, UnexpectedResponse);
        log("Request path or host holds a line break [" + localPath + "]", kLogOutcome);
        setHttpState(HttpState::Idle);
        return false;
    }

    const std::string host = hostHeaderValue(m_host, m_port, m_tls ? kDefaultHttpsPort : kDefaultHttpPort);
    std::vector<std::string> lines = requestLines(requestPath, host, range ? 0 : localSize, m_authorization);
    if (range) {
        // Before the blank line: the segment, and the version of the file it must come from.
        lines.insert(lines.end() - 1,
            "Range: bytes=" + std::to_string(range->firstByte) + "-" + std::to_string(range->lastByte)
                + "\r\n");
        if (!range->validator.empty())
            lines.insert(lines.end() - 1, "If-Range: " + range->validator + "\r\n");
    }
    for (const auto &line : routedRequest(std::move(lines)))
        sendLine(line);

    TransferWatch watch{timeout(), [this](std::int64_t done, std::int64_t total) {
                            notify(NotifyProgress, done, total, {});
                        }};
    watch.digest = m_downloadDigest;
    const bool received = m_socket.receiveFile(localPath, true, watch, this);
    const bool ok = judgeDownload(localPath, received);
    if (!ok)
        keepProxyRefusal();
    setHttpState(HttpState::Idle);
    return ok;
}

void HttpConnection::setRange(std::optional<HttpRange> range)
{
    std::lock_guard lock{m_httpLock};
    m_range = std::move(range);
}

bool HttpConnection::rangeRefused() const
{
    std::lock_guard lock{m_httpLock};
    return m_rangeRefused;
}

std::string HttpConnection::validator() const
{
    std::lock_guard lock{m_httpLock};
    return m_headerDone ? m_header.validator() : std::string();
}

std::int64_t HttpConnection::wholeSize() const
{
    std::lock_guard lock{m_httpLock};
    if (!m_headerDone)
        return -1;
    if (m_header.rangeTotalBytes() >= 0)
        return m_header.rangeTotalBytes();
    return m_headerStatus == 200 && m_framing.kind == HttpFraming::Kind::Length ? m_framing.length : -1;
}

void HttpConnection::disconnect(int reason)
{
    if (httpState() != HttpState::Unknown)
        log(std::string("Disconnect: ") + core::DiagnosticLog::disconnectReasonText(reason), kLogOutcome);
}

void HttpConnection::abort(int code)
{
    m_socket.requestStop(code);
}

} // namespace bw::net
