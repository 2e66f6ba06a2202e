// SPDX-License-Identifier: MIT
// Reads an HTTP/1.1 response header as it arrives in chunks: the status line, Content-Length and
// Location. No sockets here; the HTTP connection's receive job feeds it. One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bw::net {

class HttpHeaderParser
{
public:
    // A header that grows past this without its blank line is refused, so a hostile or broken server
    // cannot make the client buffer without limit.
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

    // Forgets everything for a new response.
    void reset();

    // Consumes whole header lines from the front of `chunk` (CR LF, LF CR, CR and LF each end a line;
    // the blank line takes a two-byte end only when the line before it had one). A partial line stays
    // in `chunk` for the next call, and so do the body bytes after the blank line, which clears
    // `headerOpen`. However the bytes are split between calls, the fields, the end of the header and
    // the body bytes come out the same. Returns the status of a status line in this chunk (the last
    // one when there are several), or -1.
    int parseChunk(std::string &chunk, bool &headerOpen);

    // Content-Length of the response; -1 while none above 0 was seen.
    std::int64_t contentLength() const { return m_contentLength; }

    // The Content-Length as declared, 0 included; -1 when the header has none.
    std::int64_t declaredContentLength() const { return m_declaredLength; }

    bool hasLocation() const { return m_hasLocation; }

    // The Location value, leading and trailing blanks removed.
    const std::string &location() const { return m_location; }

    // The Last-Modified value as sent, empty when there is none.
    const std::string &lastModified() const { return m_lastModified; }

    // The Repr-Digest and Digest field values, several fields of a name joined with ", " (RFC 9110 5.3).
    const std::string &reprDigest() const { return m_reprDigest; }

    const std::string &digest() const { return m_digest; }

    // "Transfer-Encoding: chunked": the body comes in chunks, and Content-Length does not apply.
    bool isChunked() const { return m_chunked; }

    // Every Content-Length and Transfer-Encoding field value as received, in order, for the framing
    // decision (see http_framing.h).
    const std::vector<std::string> &contentLengthFields() const { return m_contentLengthFields; }

    const std::vector<std::string> &transferEncodingFields() const { return m_transferEncodingFields; }

    // Every WWW-Authenticate field value, in order (see http_auth.h).
    const std::vector<std::string> &authenticateFields() const { return m_authenticateFields; }

    // The last status line said HTTP/1.0.
    bool isHttp10() const { return m_http10; }

    // The first status seen, -1 before any status line.
    int status() const { return m_status; }

    // The reason phrase of the last status line ("Not Found"), blanks trimmed; empty when it had none.
    const std::string &reason() const { return m_reason; }

    // Content-Range: the first byte of the part sent and the whole file's size; -1 where the field
    // is missing, unreadable or says "*".
    std::int64_t rangeFirstByte() const { return m_rangeFirst; }

    std::int64_t rangeTotalBytes() const { return m_rangeTotal; }

    // What names this version of the file for If-Range: a strong ETag, else Last-Modified; empty
    // when the response had neither.
    std::string validator() const;

    // The header (up to and including its blank line) is longer than kMaxHeaderBytes; it is then never
    // reported complete, and parseChunk consumes nothing more.
    bool isTooLong() const { return m_tooLong; }

    std::size_t headerBytes() const { return m_headerBytes; }

    // Single-line helpers. The status of a line such as "HTTP/1.1 206 Partial Content", or -1.
    static int statusFromLine(std::string_view line);
    // The value after a header name (case ignored) with leading blanks removed, or false.
    static bool fieldValue(std::string_view line, std::string_view name, std::string_view &value);
    // A Content-Range value: "bytes FIRST-LAST/TOTAL", "bytes */TOTAL" or "bytes FIRST-LAST/*". False
    // when it is none of these; a "*" part comes out as -1.
    static bool parseContentRange(std::string_view value, std::int64_t &first, std::int64_t &total);

private:
    void takeLine(std::string_view line, bool &headerOpen, int &chunkStatus);

    int m_status = -1;
    std::int64_t m_contentLength = -1;
    std::int64_t m_declaredLength = -1;
    bool m_hasLocation = false;
    bool m_chunked = false;
    bool m_http10 = false;
    std::vector<std::string> m_contentLengthFields;
    std::vector<std::string> m_transferEncodingFields;
    std::vector<std::string> m_authenticateFields;
    std::string m_location;
    std::string m_reprDigest;
    std::string m_digest;
    std::string m_reason;
    std::string m_etag;
    std::string m_lastModified;
    std::int64_t m_rangeFirst = -1;
    std::int64_t m_rangeTotal = -1;
    std::size_t m_headerBytes = 0;
    bool m_tooLong = false;
    bool m_lastEndWasPair = false; // the last line consumed ended with CR LF or LF CR
};

} // namespace bw::net
