// SPDX-License-Identifier: MIT
// Fetches one file over HTTP/1.1 into a local file with a single GET, resuming a partial local file
// with an open byte range. Driven by its transfer job's thread, which also reads the response; `abort`
// may come from any thread and only requests the stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/connection_notification.h"
#include "net/connection_reporter.h"
#include "net/http_chunked_decoder.h"
#include "net/http_digest_header.h"
#include "net/http_framing.h"
#include "net/http_header_parser.h"
#include "net/socket_connection.h"
#include "net/tls_upgrade.h"

namespace bw::net {

// One segment of a file that several connections fetch at once: the bytes from `firstByte` to
// `lastByte` (inclusive, as Range counts them), written at their own place in the file. The segment may
// be cut short while it runs: it ends at `endByte` (exclusive; owned by the caller, which may lower it
// from any thread).
struct HttpRange
{
    std::int64_t firstByte = 0;
    std::int64_t lastByte = 0;
    std::string validator; // sent as If-Range, so that another version of the file is never mixed in
    const std::atomic<std::int64_t> *endByte = nullptr;
};
class StreamDigest;

// Where the connection stands; the numbers are what the owners have always seen.
enum class HttpState : int
{
    Unknown = 0,
    Idle = 3,
};

class HttpConnection final : private ResponseFilter, private ConnectionReporter
{
public:
    HttpConnection();
    ~HttpConnection() override;
    HttpConnection(const HttpConnection &) = delete;
    HttpConnection &operator=(const HttpConnection &) = delete;

    // The socket underneath.
    bool createSocket() { return m_socket.createSocket(); }

    bool close() { return m_socket.close(); }

    bool hasSocket() const { return m_socket.hasSocket(); }

    // Back to a fresh socket state, without a stop request: the owner starts each request with it.
    void reset() { m_socket.reset(); }

    // Takes back a stop request deliberately (reset() does too).
    void clearStop() { m_socket.clearStop(); }

    void setClock(const platform::Clock *clock) { m_socket.setClock(clock); }

    // The record, as a copy.
    ErrorCode error() const { return m_socket.error(); }

    std::int64_t bytesDone() const { return m_socket.bytesDone(); }

    std::int64_t totalSize() const { return m_socket.totalSize(); }

    SocketConnection &socketConnection() { return m_socket; }

    // Notifications are delivered on the thread that runs the operation.
    using ConnectionReporter::setObserver;

    // The next connect speaks TLS with these options (their host is filled in), or plain HTTP when null.
    void setTls(std::optional<TlsOptions> options) { m_tls = std::move(options); }

    // The next connect goes through this proxy (kind None: straight to the server).
    void setProxy(ProxyRoute proxy) { m_proxy = std::move(proxy); }

    // The certificate of the last TLS connect, also when it was refused.
    const TlsOutcome &tlsOutcome() const { return m_tlsOutcome; }

    // Connects to the server. User and password are accepted so both clients are called alike; HTTP
    // does not use them. A failure leaves `ConnectFailed` in the record, or a TLS failure
    // (`CertificateRejected`, `TlsFailed`) with its reason in the detail.
    bool connect(const std::string &host, int port, const std::string &user, const std::string &password,
        int connectionId);

    // Sends the request for `requestPath` (as given) and receives the body into `localPath`, resuming
    // from the local file's length. True when the whole body arrived with status 200 or 206. On failure
    // the record holds `UrlRedirected` (target in its detail), `PermissionDenied`,
    // `UnexpectedResponse`, or `SocketReadError` for a body that ended early or was not validly
    // chunked (the partial file stays for a later resume).
    bool download(const std::string &localPath, const std::string &requestPath);

    // The next downloads fetch this segment instead of the whole file; nothing for the whole file.
    void setRange(std::optional<HttpRange> range);
    // After a segment's download: the server sent the whole file (a 200) although a part was asked
    // for, as it does when the file changed since the validator was taken. Nothing was written.
    bool rangeRefused() const;
    // What names the version of the file the last response was for (see HttpHeaderParser::validator),
    // and its whole size as the response told it (-1 when unknown). Any thread; both are known once the
    // response's header is complete.
    std::string validator() const;
    std::int64_t wholeSize() const;

    // The next downloads feed every byte of their file (a resumed part included) to `digest`; when it
    // is off, the algorithm of the response's Repr-Digest or Digest starts it. Borrowed, null for none.
    void setDownloadDigest(StreamDigest *digest) { m_downloadDigest = digest; }

    // The checksum the last response's Repr-Digest or Digest gave for the whole file.
    std::optional<HttpChecksum> responseChecksum() const;

    // Writes the disconnect line to the log; the receive job has already closed the socket.
    void disconnect(int reason);
    // Safe from any thread: requests a stop with `code`; the running connect or download ends within
    // moments, and later calls fail at once until reset() or clearStop().
    void abort(int code);

    using ConnectionReporter::connectionId;
    using ConnectionReporter::setConnectionId;
    // Seconds without a byte of header or body after which a download is stopped (0: never).
    using ConnectionReporter::setTimeout;
    using ConnectionReporter::timeout;
    HttpState httpState() const;
    // The last response's status and reason ("404 Not Found"); empty when no status line came.
    std::string statusLine() const;
    // The response's Last-Modified time in seconds since 1970; nothing when it sent none or an unreadable
    // one.
    std::optional<std::int64_t> lastModified() const;
    // When the last download started (clock seconds), -1 before the first.
    std::int64_t transferStart() const;

    // The Authorization value sent with the following downloads; empty for none.
    void setAuthorization(std::string value) { m_authorization = std::move(value); }

    // The WWW-Authenticate field values of the last response.
    std::vector<std::string> authenticateFields() const;

    // The request lines for a local file of `localSize` bytes, each with its CR LF.
    static std::vector<std::string> requestLines(const std::string &requestPath, const std::string &host,
        std::int64_t localSize, const std::string &authorization = {});
    // The Host header's value: the name or address as given, an IPv6 address in brackets, then
    // ":port" unless the port is the scheme's default.
    static std::string hostHeaderValue(const std::string &host, int port, int defaultPort = kDefaultHttpPort);
    static constexpr int kDefaultHttpPort = 80;
    static constexpr int kDefaultHttpsPort = 443;

private:
    // The receive's view of the response, called while download() runs.
    int parseHeader(std::string &chunk, bool &headerOpen) override;
    bool filterBody(char *data, std::int64_t &length, bool &bodyEnded) override;
    bool mayReceiveBody() override;
    std::int64_t bytesPassableUnseen() override;
    void passedUnseen(std::int64_t length, bool &bodyEnded) override;

    // Parses header lines from `chunk`, dropping the interim (1xx) responses before the final one.
    // False when those grow past one header's limit. Called with m_httpLock held.
    bool takeInterimResponses(std::string &chunk, bool &headerOpen);
    void setHttpState(HttpState state);
    void sendLine(const std::string &line);
    // Forgets the last response before a new request for a local file of `localSize` bytes.
    void beginResponse(std::int64_t localSize);
    // Decides the outcome once the receive job has ended, logs it and leaves the reason in the record.
    bool judgeDownload(const std::string &localPath, bool jobSucceeded);
    // The outcome a Content-Range decides: a 206 part that does not start at the offset asked for
    // fails; a 416 whose "bytes */SIZE" equals the local length succeeds with the file untouched, and
    // one smaller than it fails. Empty when the range decides nothing.
    std::optional<bool> judgeRange(const std::string &localPath);
    // Starts the download digest with the algorithm of the header's checksum, unless it runs already.
    // Called with m_httpLock held, once the header is complete.
    void startDigestFromHeader();
    // Turns a failed receive into the protocol error the transfer job acts on.
    void mapFailure(const std::string &localPath);
    // Body bytes the running segment may still take (the whole body without a segment). With
    // m_httpLock held.
    std::int64_t segmentBytesLeft() const;

    mutable std::mutex m_httpLock;
    HttpState m_httpState = HttpState::Unknown; // guarded by m_httpLock
    std::int64_t m_transferStart = -1; // guarded by m_httpLock
    HttpHeaderParser m_header; // guarded by m_httpLock
    int m_headerStatus = -1; // guarded by m_httpLock
    std::size_t m_interimBytes = 0; // header bytes of the interim responses; guarded by m_httpLock
    HttpFraming m_framing; // how the final response's body ends; guarded by m_httpLock
    HttpChunkedDecoder m_chunked; // guarded by m_httpLock
    std::int64_t m_bodyReceived = 0; // body bytes handed to the file; guarded by m_httpLock
    bool m_bodyMalformed = false; // guarded by m_httpLock
    bool m_rangeMismatch = false; // a 206 part not at the offset asked for; guarded by m_httpLock
    std::int64_t m_requestOffset = 0; // the range asked for; guarded by m_httpLock
    std::optional<HttpRange> m_range; // guarded by m_httpLock
    bool m_rangeRefused = false; // guarded by m_httpLock
    bool m_headerDone = false; // the final response's header is complete; guarded by m_httpLock

    // Set and read on the owner's thread only.
    StreamDigest *m_downloadDigest = nullptr;
    std::string m_host;
    int m_port = 0;
    std::optional<TlsOptions> m_tls;
    std::string m_authorization;
    TlsOutcome m_tlsOutcome;
    ProxyRoute m_proxy;
    // Plain HTTP through an HTTP proxy: requests go to the proxy in absolute form.
    bool m_forwarding = false;
    // Connects to the server, or to the proxy that forwards to it or tunnels to it.
    bool connectRoute(const std::string &host, int port);
    // The request's lines as the route needs them: absolute form and the proxy's login when forwarding.
    std::vector<std::string> routedRequest(std::vector<std::string> lines) const;
    // After a failed request: a forwarding proxy's 407 becomes the proxy's refusal.
    void keepProxyRefusal();
    SocketConnection m_socket;
};

} // namespace bw::net
