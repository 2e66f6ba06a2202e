// SPDX-License-Identifier: MIT
// How a finished HTTP download is judged: whether its body came whole, what the log says of it, and
// whether a partial response may be appended to the local file.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>

#include "core/diagnostic_log.h"
#include "net/formatted_text.h"
#include "net/http_connection.h"
#include "net/log_levels.h"
#include "platform/file_util.h"

namespace bw::net {

bool HttpConnection::judgeDownload(const std::string &localPath, bool jobSucceeded)
{
    std::int64_t elapsed = 0;
    bool bodyComplete = true;
    bool bodyMalformed = false;
    HttpFraming::Kind framing = HttpFraming::Kind::ToClose;
    std::int64_t bodyBytes = 0;
    std::int64_t expectedBytes = -1;
    {
        std::lock_guard lock{m_httpLock};
        elapsed = m_socket.clock().nowSeconds() - m_transferStart;
        bodyBytes = m_bodyReceived;
        bodyMalformed = m_bodyMalformed;
        framing = m_framing.kind;
        if (framing == HttpFraming::Kind::Chunked) {
            bodyComplete = m_chunked.isDone();
        } else if (framing == HttpFraming::Kind::Length) {
            expectedBytes = m_framing.length;
            bodyComplete = segmentBytesLeft() == 0; // the whole body, or the segment once cut short
        }
    }
    // A body that runs to the close over TLS is whole only when the server said so with close_notify:
    // without it, anyone on the path could have cut it short.
    const bool cutWithoutCloseNotify =
        framing == HttpFraming::Kind::ToClose && m_tls && !m_socket.endConfirmed();
    const std::int64_t total = totalSize();
    const double rate =
        elapsed <= 0 ? 0.0 : (static_cast<double>(total) / 1000.0) / static_cast<double>(elapsed);

    bool ok = false;
    if (const auto settled = judgeRange(localPath)) {
        ok = *settled;
    } else if (jobSucceeded) {
        const int status = error().status();
        if (status != 200 && status != 206) {
            m_socket.setError(CatProtocol, UnexpectedResponse);
            log(std::string(error().text()) + " [" + localPath + "]", kLogOutcome);
        } else if (cutWithoutCloseNotify) {
            // The partial file stays for the next resume.
            m_socket.setLocalError(SocketReadError);
            m_socket.setErrorStatus(status);
            log(formatted("%s: TLS connection closed without close_notify after %lld body bytes [%s]",
                    error().text(), static_cast<long long>(bodyBytes), localPath.c_str()),
                kLogOutcome);
        } else if (!bodyComplete) {
            // The server closed before the whole body came: a failure, and the partial file stays
            // so that the next attempt resumes from its length.
            m_socket.setLocalError(SocketReadError);
            m_socket.setErrorStatus(status);
            log(formatted("%s: body ended after %lld of %lld bytes [%s]", error().text(),
                    static_cast<long long>(bodyBytes), static_cast<long long>(expectedBytes),
                    localPath.c_str()),
                kLogOutcome);
        } else {
            ok = true;
            log(formatted("[DOWN] File Downloaded: %s - %lld bytes in %lld sec. (%.2f Kb/s)",
                    localPath.c_str(), static_cast<long long>(total), static_cast<long long>(elapsed), rate),
                kLogOutcome);
        }
    } else if (const ErrorCode record = error();
               record.is(CatLocal, SocketReadError) && (record.status() == 200 || record.status() == 206)) {
        // The body broke off (a reset, a failed read): a failure, and the part already written stays
        // for the next resume.
        log(formatted("%s: body ended after %lld bytes [%s]", record.text(),
                static_cast<long long>(bodyBytes), localPath.c_str()),
            kLogOutcome);
    } else if (const ErrorCode stop = error(); stop.is(CatStop, DataIdleTimeout)) {
        log(formatted("%s: nothing received for %d seconds after %lld body bytes [%s]", stop.text(),
                timeout(), static_cast<long long>(bodyBytes), localPath.c_str()),
            kLogOutcome);
    } else if (const ErrorCode slow = error(); slow.is(CatLocal, TransferTooSlow)) {
        // Like a time-out: the part already written stays for the next resume.
        log(formatted("%s: below the minimum speed for %d seconds after %lld body bytes [%s]", slow.text(),
                timeout(), static_cast<long long>(bodyBytes), localPath.c_str()),
            kLogOutcome);
    } else if (const int finalStatus = error().status();
               framing == HttpFraming::Kind::Invalid && finalStatus >= 200 && finalStatus <= 299) {
        // Nothing was written: without a readable length no byte of the body can be trusted.
        m_socket.setError(CatProtocol, UnexpectedResponse);
        m_socket.setErrorStatus(finalStatus);
        log("Response with an unreadable or conflicting body length [" + localPath + "]", kLogOutcome);
    } else if (bodyMalformed) {
        // The body was announced as chunked but was not: what was written so far stays.
        const int status = error().status();
        m_socket.setLocalError(SocketReadError);
        m_socket.setErrorStatus(status);
        log(std::string("Malformed chunked body [") + localPath + "]", kLogOutcome);
    } else {
        mapFailure(localPath);
    }
    return ok;
}

std::optional<bool> HttpConnection::judgeRange(const std::string &localPath)
{
    bool mismatch = false;
    std::int64_t first = -1;
    std::int64_t remoteBytes = -1;
    std::int64_t localBytes = 0;
    {
        std::lock_guard lock{m_httpLock};
        mismatch = m_rangeMismatch;
        first = m_header.rangeFirstByte();
        remoteBytes = m_header.rangeTotalBytes();
        localBytes = m_requestOffset;
    }
    const int status = error().status();
    if (rangeRefused()) {
        m_socket.setError(CatProtocol, UnexpectedResponse);
        m_socket.setErrorStatus(status);
        logStatus("The whole file came instead of the part asked for: it changed on the server [" + localPath
            + "]");
        return false;
    }
    if (status == 206 && mismatch) {
        m_socket.setError(CatProtocol, UnexpectedResponse);
        m_socket.setErrorStatus(status);
        if (first < 0)
            logStatus("Partial content without a readable Content-Range: not appended [" + localPath + "]");
        else
            logStatus(
                formatted("Partial content starts at byte %lld, not at %lld as asked: not appended [%s]",
                    static_cast<long long>(first), static_cast<long long>(localBytes), localPath.c_str()));
        return false;
    }
    // 416 answers a range that starts at or past the end: "bytes */SIZE" tells which.
    if (status != 416 || remoteBytes < 0 || localBytes <= 0)
        return std::nullopt;
    if (remoteBytes == localBytes) {
        m_socket.clearError();
        m_socket.setErrorStatus(status);
        logStatus(formatted("Local file is already complete (%lld bytes) [%s]",
            static_cast<long long>(localBytes), localPath.c_str()));
        return true;
    }
    if (remoteBytes > localBytes)
        return std::nullopt;
    m_socket.setError(CatProtocol, UnexpectedResponse);
    m_socket.setErrorStatus(status);
    logStatus(formatted(
        "Local file (%lld bytes) is longer than the remote file (%lld bytes); it is left as it is [%s]",
        static_cast<long long>(localBytes), static_cast<long long>(remoteBytes), localPath.c_str()));
    return false;
}

} // namespace bw::net
