// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/http_header_parser.h"

namespace bw::net {
namespace {

struct Feed
{
    int lastStatus = -1; // the last status any chunk returned
    bool headerOpen = true;
    std::string left; // what stayed in the buffer at the end
};

// Feeds the pieces the way the receive job does: each new piece is appended to what stayed.
Feed feed(HttpHeaderParser &parser, const std::vector<std::string> &pieces)
{
    Feed out;
    for (const auto &piece : pieces) {
        out.left += piece;
        const int status = parser.parseChunk(out.left, out.headerOpen);
        if (status >= 0)
            out.lastStatus = status;
    }
    return out;
}

TEST(HttpHeaderParserTest, ParsesCompleteHeadersInAnyChunking)
{
    struct Case
    {
        const char *name;
        std::vector<std::string> pieces;
        int status;
        std::int64_t contentLength;
        const char *location; // nullptr: none
        const char *body; // bytes left after the header
    };

    const Case cases[] = {
        {"OneChunk", {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}, 200, 5, nullptr, "hello"},
        {"SplitInsideALine", {"HTTP/1.1 206 Par", "tial Content\r\nConte", "nt-Length: 12\r\n\r\nab"}, 206,
            12, nullptr, "ab"},
        {"SplitBetweenCrAndLf", {"HTTP/1.1 200 OK\r", "\nContent-Length: 3\r", "\n\r", "\nxyz"}, 200, 3,
            nullptr, "xyz"},
        {"BareLineFeeds", {"HTTP/1.0 404 Not Found\nContent-Length: 9\n\nnot found"}, 404, 9, nullptr,
            "not found"},
        {"LowerCaseLocationWithBlanks", {"HTTP/1.1 301 Moved\r\nlocation:  http://h/new \r\n\r\n"}, 301, -1,
            "http://h/new", ""},
        {"ContentLengthBeyond4GiB", {"HTTP/1.1 200 OK\r\ncontent-length:\t6442450944\r\n\r\n"}, 200,
            6442450944LL, nullptr, ""},
        {"ZeroContentLengthIsIgnored", {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, 200, -1, nullptr,
            ""},
        {"HttpNamedFieldIsNoStatus", {"HTTP/1.1 200 OK\r\nHttp-Extra: 7 x\r\n\r\n"}, 200, -1, nullptr, ""},
        {"BodyWithLineBreaksIsNotParsed", {"HTTP/1.1 200 OK\r\n\r\nHTTP/1.1 500 No\r\nLocation: x\r\n"}, 200,
            -1, nullptr, "HTTP/1.1 500 No\r\nLocation: x\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        HttpHeaderParser parser;
        const Feed result = feed(parser, c.pieces);
        EXPECT_FALSE(result.headerOpen);
        EXPECT_EQ(result.lastStatus, c.status);
        EXPECT_EQ(parser.status(), c.status);
        EXPECT_EQ(parser.contentLength(), c.contentLength);
        EXPECT_EQ(parser.hasLocation(), c.location != nullptr);
        if (c.location) {
            EXPECT_EQ(parser.location(), c.location);
        }
        EXPECT_EQ(result.left, c.body);
        EXPECT_FALSE(parser.isTooLong());
    }
}

// What a whole response leaves behind: the header's fields and the body bytes after it.
struct Outcome
{
    bool headerOpen = true;
    int status = -1;
    std::int64_t contentLength = -1;
    std::string location;
    bool chunked = false;
    std::string body;

    bool operator==(const Outcome &) const = default;
};

void PrintTo(const Outcome &o, std::ostream *out)
{
    *out << (o.headerOpen ? "open" : "complete") << ", status " << o.status << ", length " << o.contentLength
         << ", location \"" << o.location << "\"" << (o.chunked ? ", chunked" : "") << ", body "
         << ::testing::PrintToString(o.body);
}

Outcome outcomeOf(const std::vector<std::string> &pieces)
{
    HttpHeaderParser parser;
    const Feed result = feed(parser, pieces);
    return {result.headerOpen, parser.status(), parser.contentLength(), parser.location(), parser.isChunked(),
        result.left};
}

TEST(HttpHeaderParserTest, EverySplitPointGivesTheSameHeaderAndBody)
{
    struct Case
    {
        const char *name;
        std::string response;
        Outcome expected;
    };

    const Case cases[] = {
        {"CrLf", "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 2\r\n\r\nok",
            {false, 302, 2, "/next", false, "ok"}},
        // A read ending between LF and CR used to lose the next field or end the header early.
        {"LfCr", "HTTP/1.1 301 Moved\n\rLocation: /new\n\rContent-Length: 4\n\r\n\rbody",
            {false, 301, 4, "/new", false, "body"}},
        {"BareLfBodyStartsWithCr", "HTTP/1.0 200 OK\nContent-Length: 5\n\n\rbody",
            {false, 200, 5, "", false, "\rbody"}},
        {"BareLfBodyStartsWithLf", "HTTP/1.0 200 OK\nContent-Length: 5\n\n\nbody",
            {false, 200, 5, "", false, "\nbody"}},
        {"BareCr", "HTTP/1.0 200 OK\rTransfer-Encoding: chunked\r\r\n0\r\n\r\n",
            {false, 200, -1, "", true, "\n0\r\n\r\n"}},
        {"MixedEnds", "HTTP/1.1 200 OK\r\nContent-Length: 3\nX-A: 1\n\r\r\nabc",
            {false, 200, 3, "", false, "abc"}},
        {"CrLfBodyStartsWithLf", "HTTP/1.1 200 OK\r\n\r\n\n\r", {false, 200, -1, "", false, "\n\r"}},
        {"HeaderNotFinished", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n", {true, 200, 9, "", false, ""}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcomeOf({c.response}), c.expected);
        for (std::size_t split = 0; split <= c.response.size(); ++split) {
            SCOPED_TRACE("split at " + std::to_string(split));
            EXPECT_EQ(outcomeOf({c.response.substr(0, split), c.response.substr(split)}), c.expected);
        }
        std::vector<std::string> bytes;
        for (const char b : c.response)
            bytes.emplace_back(1, b);
        EXPECT_EQ(outcomeOf(bytes), c.expected) << "byte by byte";
    }
}

TEST(HttpHeaderParserTest, TheSizeLimitDoesNotDependOnTheSplitting)
{
    // A header of exactly the limit, blank line included, and one a byte longer.
    const std::string start = "HTTP/1.1 200 OK\r\nX-Pad: ";
    const std::size_t pad = HttpHeaderParser::kMaxHeaderBytes - start.size() - 4;
    const std::string atLimit = start + std::string(pad, 'p') + "\r\n\r\nbody";
    const std::string pastLimit = start + std::string(pad + 1, 'p') + "\r\n\r\nbody";
    for (const std::size_t piece : {std::size_t{1000}, std::size_t{4096}, pastLimit.size()}) {
        for (const auto &[text, tooLong] : {std::pair{atLimit, false}, std::pair{pastLimit, true}}) {
            SCOPED_TRACE(std::to_string(piece) + (tooLong ? " past the limit" : " at the limit"));
            HttpHeaderParser parser;
            std::vector<std::string> pieces;
            for (std::size_t at = 0; at < text.size(); at += piece)
                pieces.push_back(text.substr(at, piece));
            const Feed result = feed(parser, pieces);
            EXPECT_EQ(parser.isTooLong(), tooLong);
            EXPECT_EQ(result.headerOpen, tooLong);
        }
    }
}

TEST(HttpHeaderParserTest, TellsAnEmptyBodyFromAMissingLength)
{
    HttpHeaderParser parser;
    feed(parser, {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
    EXPECT_EQ(parser.contentLength(), -1);
    EXPECT_EQ(parser.declaredContentLength(), 0);
    parser.reset();
    feed(parser, {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n"});
    EXPECT_EQ(parser.declaredContentLength(), 12);
    parser.reset();
    feed(parser, {"HTTP/1.1 200 OK\r\nContent-Length: none\r\n\r\n"});
    EXPECT_EQ(parser.declaredContentLength(), -1);
    parser.reset();
    feed(parser, {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n"});
    EXPECT_EQ(parser.declaredContentLength(), -1);
}

TEST(HttpHeaderParserTest, RecognisesAChunkedBody)
{
    HttpHeaderParser parser;
    feed(parser, {"HTTP/1.1 200 OK\r\ntransfer-encoding:  gzip, Chunked\r\n\r\n"});
    EXPECT_TRUE(parser.isChunked());
    parser.reset();
    feed(parser, {"HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nContent-Length: 3\r\n\r\n"});
    EXPECT_FALSE(parser.isChunked());
}

TEST(HttpHeaderParserTest, PartialLineStaysUntilItsBreakArrives)
{
    HttpHeaderParser parser;
    bool open = true;
    std::string buffer = "HTTP/1.1 200 OK\r\nContent-Len";
    EXPECT_EQ(parser.parseChunk(buffer, open), 200);
    EXPECT_TRUE(open);
    EXPECT_EQ(buffer, "Content-Len");
    buffer += "gth: 42\r\n";
    EXPECT_EQ(parser.parseChunk(buffer, open), -1); // no status line in this chunk
    EXPECT_EQ(parser.contentLength(), 42);
    EXPECT_EQ(buffer, "");
    EXPECT_TRUE(open);
}

TEST(HttpHeaderParserTest, StatusLineHelper)
{
    EXPECT_EQ(HttpHeaderParser::statusFromLine("HTTP/1.1 302 Found"), 302);
    EXPECT_EQ(HttpHeaderParser::statusFromLine("http/1.0   503"), 503);
    EXPECT_EQ(HttpHeaderParser::statusFromLine("HTTP/1.1 abc"), 0);
    EXPECT_EQ(HttpHeaderParser::statusFromLine("HTTP/1.1"), -1);
    EXPECT_EQ(HttpHeaderParser::statusFromLine("Server: HTTP/1.1 200"), -1);
}

TEST(HttpHeaderParserTest, ReadsContentRangeValues)
{
    struct Case
    {
        const char *name;
        const char *value;
        bool valid;
        std::int64_t first;
        std::int64_t total;
    };

    const Case cases[] = {
        {"FullRange", "bytes 100-199/200", true, 100, 200},
        {"UnsatisfiedRange", "bytes */4096", true, -1, 4096},
        {"UnknownTotal", "bytes 0-9/*", true, 0, -1},
        {"UpperCaseUnit", "BYTES 5-9/10", true, 5, 10},
        {"OtherUnit", "items 0-1/2", false, -1, -1},
        {"NoSlash", "bytes 0-9", false, -1, -1},
        {"LastBeforeFirst", "bytes 9-0/10", false, -1, -1},
        {"NegativeFirst", "bytes -1-9/10", false, -1, -1},
        {"TrailingJunk", "bytes 0-9/10x", false, -1, -1},
        {"StarBoth", "bytes */*", false, -1, -1},
        {"NegativeTotal", "bytes */-9", false, -1, -1},
        {"JunkAfterTheTotal", "bytes */1000x", false, -1, -1},
        {"UnreadableLast", "bytes 0-x/100", false, -1, -1},
        {"NegativeTotalOfARange", "bytes 0-9/-10", false, -1, -1},
        {"SignedTotal", "bytes */+9", false, -1, -1},
        {"OverflowingTotal", "bytes */99999999999999999999", false, -1, -1},
        {"OverflowingLast", "bytes 0-99999999999999999999/100", false, -1, -1},
        {"LargestTotal", "bytes */9223372036854775807", true, -1, 9223372036854775807},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::int64_t first = -7;
        std::int64_t total = -7;
        EXPECT_EQ(HttpHeaderParser::parseContentRange(c.value, first, total), c.valid);
        // A refused value leaves nothing behind: both fields read -1.
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(total, c.total);
    }
}

TEST(HttpHeaderParserTest, KeepsTheReasonAndTheRangeOfTheResponse)
{
    HttpHeaderParser parser;
    const Feed out =
        feed(parser, {"HTTP/1.1 416 Range Not Satisfiable \r\n", "Content-Range: bytes */1234\r\n\r\n"});
    EXPECT_EQ(out.lastStatus, 416);
    EXPECT_EQ(parser.reason(), "Range Not Satisfiable");
    EXPECT_EQ(parser.rangeFirstByte(), -1);
    EXPECT_EQ(parser.rangeTotalBytes(), 1234);
    parser.reset();
    feed(parser, {"HTTP/1.1 416 Range Not Satisfiable\r\n", "Content-Range: bytes */1000x\r\n\r\n"});
    EXPECT_EQ(parser.rangeTotalBytes(), -1);
    parser.reset();
    feed(parser, {"HTTP/1.1 404\r\n\r\n"});
    EXPECT_EQ(parser.reason(), "");
    EXPECT_EQ(parser.rangeTotalBytes(), -1);
}

TEST(HttpHeaderParserTest, RefusesAHeaderThatNeverEnds)
{
    HttpHeaderParser parser;
    bool open = true;
    std::string buffer = "HTTP/1.1 200 OK\r\n";
    parser.parseChunk(buffer, open);
    const std::string field = "X-Filler: " + std::string(1000, 'a') + "\r\n";
    for (int i = 0; i < 100 && !parser.isTooLong(); ++i) {
        buffer += field;
        parser.parseChunk(buffer, open);
    }
    EXPECT_TRUE(parser.isTooLong());
    EXPECT_TRUE(open);
    EXPECT_LE(parser.headerBytes(), HttpHeaderParser::kMaxHeaderBytes + field.size());
}

TEST(HttpHeaderParserTest, RefusesOneOverlongLine)
{
    HttpHeaderParser parser;
    bool open = true;
    std::string buffer = "HTTP/1.1 200 OK\r\nX-Long: ";
    while (buffer.size() <= HttpHeaderParser::kMaxHeaderBytes && !parser.isTooLong()) {
        buffer += std::string(4096, 'b');
        parser.parseChunk(buffer, open);
    }
    EXPECT_TRUE(parser.isTooLong());
}

TEST(HttpHeaderParserTest, ResetForgetsTheLastResponse)
{
    HttpHeaderParser parser;
    feed(parser, {"HTTP/1.1 301 Moved\r\nLocation: /a\r\nContent-Length: 4\r\n\r\n"});
    parser.reset();
    EXPECT_EQ(parser.status(), -1);
    EXPECT_EQ(parser.contentLength(), -1);
    EXPECT_FALSE(parser.hasLocation());
    EXPECT_EQ(parser.headerBytes(), 0u);
}

} // namespace
} // namespace bw::net
