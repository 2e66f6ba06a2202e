// SPDX-License-Identifier: MIT
// HTTP response headers: however the bytes are split between reads, the parser finds the same fields,
// the same end of the header and leaves the same body bytes; a Content-Range it refuses reads -1.
#include <vector>

#include "fuzz_check.h"
#include "net/http_header_parser.h"

namespace {

using bw::net::HttpHeaderParser;

struct Outcome
{
    bool headerOpen = true;
    int lastStatus = -1;
    int status = -1;
    std::int64_t contentLength = -1;
    std::int64_t declaredLength = -1;
    bool hasLocation = false;
    std::string location;
    bool chunked = false;
    bool tooLong = false;
    std::size_t headerBytes = 0;
    std::int64_t rangeFirst = -1;
    std::int64_t rangeTotal = -1;
    std::string body;

    bool operator==(const Outcome &) const = default;
};

// Feeds `text` in pieces ending at the given offsets, the way the receive job appends each read to
// what stayed in its buffer.
Outcome feed(std::string_view text, const std::vector<std::size_t> &cuts)
{
    HttpHeaderParser parser;
    Outcome out;
    std::string buffer;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        cut = std::min(std::max(cut, from), text.size());
        buffer.append(text.substr(from, cut - from));
        from = cut;
        const int status = parser.parseChunk(buffer, out.headerOpen);
        BW_FUZZ_CHECK(status >= -1 && status < 1000);
        if (status >= 0)
            out.lastStatus = status;
    }
    buffer.append(text.substr(from));
    const int status = parser.parseChunk(buffer, out.headerOpen);
    if (status >= 0)
        out.lastStatus = status;
    out.status = parser.status();
    out.contentLength = parser.contentLength();
    out.declaredLength = parser.declaredContentLength();
    out.hasLocation = parser.hasLocation();
    out.location = parser.location();
    out.chunked = parser.isChunked();
    out.tooLong = parser.isTooLong();
    out.headerBytes = parser.headerBytes();
    out.rangeFirst = parser.rangeFirstByte();
    out.rangeTotal = parser.rangeTotalBytes();
    out.body = out.headerOpen ? std::string() : buffer;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes pick where the text is cut.
    const std::string_view text = bw::fuzz::bytesOf(data + 2, size - 2);
    const Outcome whole = feed(text, {});
    BW_FUZZ_CHECK(whole.headerBytes <= HttpHeaderParser::kMaxHeaderBytes);
    BW_FUZZ_CHECK(whole.headerBytes + whole.body.size() == text.size() || whole.headerOpen);

    const std::size_t first = text.empty() ? 0 : data[0] % (text.size() + 1);
    const std::size_t step = 1 + data[1] % 16;
    std::vector<std::size_t> cuts{first};
    for (std::size_t at = first + step; at < text.size(); at += step)
        cuts.push_back(at);
    BW_FUZZ_CHECK(feed(text, {first}) == whole);
    BW_FUZZ_CHECK(feed(text, cuts) == whole);
    // A Content-Range field is -1 where unreadable, never a refused number.
    BW_FUZZ_CHECK(whole.rangeFirst >= -1 && whole.rangeTotal >= -1);
    std::int64_t rangeFirst = -7;
    std::int64_t rangeTotal = -7;
    if (HttpHeaderParser::parseContentRange(text, rangeFirst, rangeTotal))
        BW_FUZZ_CHECK(rangeFirst >= -1 && rangeTotal >= -1 && (rangeFirst >= 0 || rangeTotal >= 0));
    else
        BW_FUZZ_CHECK(rangeFirst == -1 && rangeTotal == -1);
    return 0;
}
