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
