// SPDX-License-Identifier: MIT
// Fetches one file over HTTP/1.1 into a local file with a single GET, resuming a partial local file
// with an open byte range. Driven by its transfer job's thread; `abort` may come from any thread; the
// response is read by the socket worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net/connection_notification.h"
#include "net/http_chunked_decoder.h"
#include "net/http_header_parser.h"
#include "net/socket_connection.h"

namespace bw::net {

class HttpConnection : public SocketConnection
{
public:
    enum HttpState : int
    {
        HttpUnknown = 0,
        HttpIdle = 3,
    };

    HttpConnection();
    ~HttpConnection() override;

    // Notifications are delivered on the thread that runs the operation.
    void setObserver(ConnectionObserver observer, void *context);

    // Connects to the server. User and password are accepted so both clients are called alike; HTTP
    // does not use them. A failure leaves `ConnectFailed` in the record.
    bool connect(const std::string &host, int port, const std::string &user, const std::string &password,
        int connectionId);
    using SocketConnection::connect;

    // Sends the request for `requestPath` (as given) and receives the body into `localPath`, resuming
    // from the local file's length. True when the whole body arrived with status 200 or 206. On failure
    // the record holds `UrlRedirected` (target in its detail), `PermissionDenied`,
    // `UnexpectedResponse`, or `SocketReadError` for a body that ended early or was not validly
    // chunked (the partial file stays for a later resume).
    bool download(const std::string &localPath, const std::string &requestPath);

    // Writes the disconnect line to the log; the receive job has already closed the socket.
    void disconnect(int reason);
    // Stops a running download from any thread.
    void abort(int code);

    void setConnectionId(int id);
    int connectionId() const;
    // Stored for symmetry with FTP; the HTTP exchange uses the socket layer's own waits.
    void setTimeout(int seconds);
    int timeout() const;
    int httpState() const;
    // When the last download started (clock seconds), -1 before the first.
    std::int64_t transferStart() const;

    // The request lines for a local file of `localSize` bytes, each with its CR LF.
    static std::vector<std::string> requestLines(
        const std::string &requestPath, const std::string &host, std::int64_t localSize);

protected:
    int parseResponseHeader(std::string &chunk, bool &headerOpen) override;
    bool filterResponseBody(char *data, std::int64_t &length, bool &bodyEnded) override;

private:
    void setHttpState(int state);
    void log(const std::string &message, int level) const;
    void notify(int kind, std::int64_t first, std::int64_t second, const std::string &text) const;
    void sendLine(const std::string &line);
    // Forgets the last response before a new request for a local file of `localSize` bytes.
    void beginResponse(std::int64_t localSize);
    void waitForReceiveJob();
    // Decides the outcome once the receive job has ended, logs it and leaves the reason in the record.
    bool judgeDownload(const std::string &localPath, bool jobSucceeded);
    // Turns a failed receive into the protocol error the transfer job acts on.
    void mapFailure(const std::string &localPath);

    mutable std::mutex m_httpLock;
    int m_httpState = HttpUnknown; // guarded by m_httpLock
    std::int64_t m_transferStart = -1; // guarded by m_httpLock
    HttpHeaderParser m_header; // guarded by m_httpLock
    int m_headerStatus = -1; // guarded by m_httpLock
    HttpChunkedDecoder m_chunked; // guarded by m_httpLock
    std::int64_t m_bodyReceived = 0; // body bytes handed to the file; guarded by m_httpLock
    bool m_bodyMalformed = false; // guarded by m_httpLock
    std::int64_t m_requestOffset = 0; // the range asked for; guarded by m_httpLock

    // Set and read on the owner's thread only.
    std::string m_host;
    int m_port = 0;
    std::atomic<int> m_connectionId{0};
    std::atomic<int> m_timeout{30};
    ConnectionObserver m_observer = nullptr;
    void *m_observerContext = nullptr;
};

} // namespace bw::net
