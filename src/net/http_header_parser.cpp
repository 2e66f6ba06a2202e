// SPDX-License-Identifier: MIT
#include "net/http_header_parser.h"

#include <cctype>
#include <charconv>

namespace bw::net {

namespace {

void appendFieldValue(std::string &joined, std::string_view value)
{
    if (!joined.empty())
        joined += ", ";
    joined += value;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i]))
            != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The decimal number at the front of `text`; 0 when there is none (or it does not fit).
std::int64_t leadingNumber(std::string_view text)
{
    std::int64_t value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc{})
        return 0;
    return value;
}

// A whole decimal number of `text`; false for anything else (blanks, signs, overflow), leaving `value`.
bool wholeNumber(std::string_view text, std::int64_t &value)
{
    if (text.empty())
        return false;
    std::int64_t parsedValue = -1;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), parsedValue);
    if (parsed.ec != std::errc{} || parsed.ptr != text.data() + text.size() || parsedValue < 0)
        return false;
    value = parsedValue;
    return true;
}

// The text after the status code of a status line, blanks trimmed.
std::string reasonOfStatusLine(std::string_view line)
{
    auto at = line.find(' ');
    at = line.find_first_not_of(' ', at);
    at = at == std::string_view::npos ? at : line.find(' ', at);
    if (at == std::string_view::npos)
        return {};
    std::string_view reason = line.substr(at);
    while (!reason.empty() && isBlank(reason.front()))
        reason.remove_prefix(1);
    while (!reason.empty() && isBlank(reason.back()))
        reason.remove_suffix(1);
    return std::string(reason);
}

} // namespace

bool HttpHeaderParser::parseContentRange(std::string_view value, std::int64_t &first, std::int64_t &total)
{
    // Nothing of a refused value is kept: both fields read -1 unless the whole value is good.
    first = -1;
    total = -1;
    if (!startsWithIgnoringCase(value, "bytes"))
        return false;
    value.remove_prefix(5);
    while (!value.empty() && isBlank(value.front()))
        value.remove_prefix(1);
    const auto slash = value.find('/');
    if (slash == std::string_view::npos)
        return false;
    const std::string_view range = value.substr(0, slash);
    const std::string_view size = value.substr(slash + 1);
    std::int64_t wholeSize = -1;
    if (size != "*" && !wholeNumber(size, wholeSize))
        return false;
    if (range == "*") {
        total = wholeSize;
        return total >= 0;
    }
    const auto dash = range.find('-');
    std::int64_t start = -1;
    std::int64_t last = -1;
    if (dash == std::string_view::npos || !wholeNumber(range.substr(0, dash), start)
        || !wholeNumber(range.substr(dash + 1), last) || last < start)
        return false;
    first = start;
    total = wholeSize;
    return true;
}

namespace {

// A validator is sent back as it came; one longer than any server makes is not kept.
std::string trimmedValidator(std::string_view value)
{
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    constexpr std::size_t kMaxValidatorBytes = 512;
    return value.size() > kMaxValidatorBytes ? std::string() : std::string(value);
}

} // namespace

void HttpHeaderParser::reset()
{
    *this = HttpHeaderParser{};
}

int HttpHeaderParser::statusFromLine(std::string_view line)
{
    // "HTTP/1.1 200 OK"; a header field whose name merely begins with "Http" is no status line.
    if (!startsWithIgnoringCase(line, "HTTP/"))
        return -1;
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos)
        return -1;
    std::string_view code = line.substr(blank);
    while (!code.empty() && code.front() == ' ')
        code.remove_prefix(1);
    code = code.substr(0, code.find(' '));
    const std::int64_t value = leadingNumber(code);
    return value > 0 && value < 1000 ? static_cast<int>(value) : 0;
}

bool HttpHeaderParser::fieldValue(std::string_view line, std::string_view name, std::string_view &value)
{
    if (!startsWithIgnoringCase(line, name))
        return false;
    value = line.substr(name.size());
    while (!value.empty() && isBlank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && isBlank(value.back()))
        value.remove_suffix(1);
    return true;
}

void HttpHeaderParser::takeLine(std::string_view line, bool &headerOpen, int &chunkStatus)
{
    std::string_view value;
    if (line.empty()) {
        headerOpen = false;
    } else if (const int status = statusFromLine(line); status >= 0) {
        chunkStatus = status;
        if (m_status < 0)
            m_status = status;
        m_reason = reasonOfStatusLine(line);
        m_http10 = startsWithIgnoringCase(line, "HTTP/1.0");
    } else if (fieldValue(line, "Content-Length:", value)) {
        const std::int64_t length = leadingNumber(value);
        if (length > 0)
            m_contentLength = length;
        std::int64_t declared = -1;
        const auto parsed = std::from_chars(value.data(), value.data() + value.size(), declared);
        m_declaredLength = parsed.ec == std::errc{} && declared >= 0 ? declared : -1;
        m_contentLengthFields.emplace_back(value);
    } else if (fieldValue(line, "Transfer-Encoding:", value)) {
        std::string lower(value);
        for (auto &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        m_chunked = lower.find("chunked") != std::string::npos;
        m_transferEncodingFields.emplace_back(value);
    } else if (fieldValue(line, "WWW-Authenticate:", value)) {
        m_authenticateFields.emplace_back(value);
    } else if (fieldValue(line, "Content-Range:", value)) {
        parseContentRange(value, m_rangeFirst, m_rangeTotal);
    } else if (fieldValue(line, "Location:", value)) {
        m_location = std::string(value);
        m_hasLocation = true;
    } else if (fieldValue(line, "ETag:", value)) {
        m_etag = trimmedValidator(value);
    } else if (fieldValue(line, "Last-Modified:", value)) {
        m_lastModified = trimmedValidator(value);
    } else if (fieldValue(line, "Repr-Digest:", value)) {
        appendFieldValue(m_reprDigest, value);
    } else if (fieldValue(line, "Digest:", value)) {
        appendFieldValue(m_digest, value);
    }
}

std::string HttpHeaderParser::validator() const
{
    // RFC 9110 13.1.5: If-Range takes a strong entity tag only; a weak one never matches, so the date
    // stands in for it.
    if (!m_etag.empty() && !m_etag.starts_with("W/"))
        return m_etag;
    return m_lastModified;
}

int HttpHeaderParser::parseChunk(std::string &chunk, bool &headerOpen)
{
    int chunkStatus = -1;
    if (m_tooLong)
        return chunkStatus;
    std::size_t consumed = 0;
    while (headerOpen) {
        const auto end = chunk.find_first_of("\r\n", consumed);
        if (end == std::string::npos)
            break;
        const std::string_view line(chunk.data() + consumed, end - consumed);
        // The blank line that ends the header ends like the line before it: with two bytes only when
        // that one had two. So a server with bare line ends need not send another byte before its
        // header counts as complete, and a body that begins with CR or LF keeps that byte.
        const bool mayPair = !line.empty() || m_lastEndWasPair;
        std::size_t next = end + 1;
        if (mayPair) {
            // A line end as the last byte may be the first half of a pair (CR LF or LF CR): wait for
            // the next byte, so the result never depends on where a read happened to stop.
            if (next == chunk.size())
                break;
            const char pair = chunk[end] == '\r' ? '\n' : '\r';
            if (chunk[next] == pair)
                ++next;
        }
        if (m_headerBytes + next > kMaxHeaderBytes) {
            m_tooLong = true; // the header stays open: its end is never reported
            break;
        }
        m_lastEndWasPair = next - end == 2;
        takeLine(line, headerOpen, chunkStatus);
        consumed = next;
    }
    m_headerBytes += consumed;
    chunk.erase(0, consumed);
    if (headerOpen && m_headerBytes + chunk.size() > kMaxHeaderBytes)
        m_tooLong = true;
    return chunkStatus;
}

} // namespace bw::net
