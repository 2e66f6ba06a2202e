// SPDX-License-Identifier: MIT
#include <string>

#include <gtest/gtest.h>

#include "net/http_chunked_decoder.h"

namespace bw::net {
namespace {

using Result = HttpChunkedDecoder::Result;

// Feeds `encoded` in pieces of `piece` bytes; returns the decoded body and the last result.
Result decodeInPieces(const std::string &encoded, std::size_t piece, std::string &body)
{
    HttpChunkedDecoder decoder;
    Result result = Result::More;
    body.clear();
    for (std::size_t at = 0; at < encoded.size() && result == Result::More; at += piece) {
        std::string block = encoded.substr(at, piece);
        std::int64_t length = static_cast<std::int64_t>(block.size());
        result = decoder.decode(block.data(), length);
        body.append(block.data(), static_cast<std::size_t>(length));
    }
    return result;
}

TEST(HttpChunkedDecoderTest, DecodesBodiesInEverySplitting)
{
    struct Case
    {
        const char *name;
        std::string encoded;
        Result result;
        std::string body;
    };

    const std::string big(70000, 'z');
    const Case cases[] = {
        {"TwoChunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", Result::Done, "hello world"},
        {"ExtensionsAndUpperHex", "A;name=value\r\n0123456789\r\n0\r\n\r\n", Result::Done, "0123456789"},
        {"TrailerFields", "3\r\nabc\r\n0\r\nExpires: never\r\nX-Sum: 1\r\n\r\n", Result::Done, "abc"},
        {"BareLineFeeds", "3\nabc\n0\n\n", Result::Done, "abc"},
        {"BytesAfterTheEndAreDropped", "1\r\nx\r\n0\r\n\r\nGARBAGE", Result::Done, "x"},
        {"BigChunk", "11170\r\n" + big + "\r\n0\r\n\r\n", Result::Done, big},
        {"CutShort", "5\r\nhel", Result::More, "hel"},
        {"NotHex", "zz\r\nhello\r\n", Result::Malformed, ""},
        {"NoCrLfAfterData", "2\r\nabX", Result::Malformed, "ab"},
        {"EmptySizeLine", "\r\n", Result::Malformed, ""},
        {"HugeSize", "fffffffffffffffffff\r\n", Result::Malformed, ""},
        {"SixteenDigitsWithLeadingZeros", "0000000000000003\r\nabc\r\n0\r\n\r\n", Result::Done, "abc"},
        {"SeventeenDigits", "00000000000000003\r\nabc\r\n0\r\n\r\n", Result::Malformed, ""},
        {"EndlessLeadingZeros", std::string(5000, '0') + "3\r\nabc\r\n0\r\n\r\n", Result::Malformed, ""},
        {"ZerosInTheLastChunkSize", std::string(20, '0') + "\r\n\r\n", Result::Malformed, ""},
        {"SizeOfTwoToThe56", "100000000000000\r\nab", Result::More, "ab"},
        {"SizeAboveTwoToThe56", "100000000000001\r\nab", Result::Malformed, ""},
    };
    for (const auto &c : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, c.encoded.size()}) {
            SCOPED_TRACE(std::string(c.name) + " in pieces of " + std::to_string(piece));
            std::string body;
            EXPECT_EQ(decodeInPieces(c.encoded, piece, body), c.result);
            EXPECT_EQ(body, c.body);
        }
    }
}

TEST(HttpChunkedDecoderTest, RefusesAnEndlessSizeLine)
{
    HttpChunkedDecoder decoder;
    std::string block = "1;" + std::string(HttpChunkedDecoder::kMaxLineBytes + 10, 'e');
    std::int64_t length = static_cast<std::int64_t>(block.size());
    EXPECT_EQ(decoder.decode(block.data(), length), Result::Malformed);
}

} // namespace
} // namespace bw::net
