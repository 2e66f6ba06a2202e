// SPDX-License-Identifier: MIT
// The reply reader fed bytes directly: line splitting, reply codes and whole replies.
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/ftp_reply_reader.h"

namespace bw::net {
namespace {

TEST(FtpReplyReader, ReplyCodeOfLines)
{
    struct Case
    {
        const char *line;
        int code;
    };

    const Case cases[] = {
        {"220 Ready", 220},
        {"220-Hello", -1},
        {"220", -1},
        {"220 ", 220},
        {"000 zero", -1},
        {"abc def", -1},
        {"", -1},
        {"550 x", 550},
        {"12a x", -1},
        {"2200 x", -1},
        {"1ab note", -1},
        {"42  x", -1},
        {" 42 x", -1},
        {"220\tx", -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FtpReplyReader::replyCode(c.line), c.code) << c.line;
}

TEST(FtpReplyReader, SplitsChunksIntoLines)
{
    struct Case
    {
        const char *name;
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
    };

    const Case cases[] = {
        {"one line", {"220 Ready\r\n"}, {"220 Ready"}},
        {"run of breaks yields no empty lines", {"a\r\n\r\n\nb\n"}, {"a", "b"}},
        {"line split across chunks", {"22", "0 Ready\r\n"}, {"220 Ready"}},
        {"CR LF split across chunks", {"220 Ready\r", "\n331 Next\r\n"}, {"220 Ready", "331 Next"}},
        {"leading break with nothing pending", {"\r\nx\n"}, {"", "x"}},
        {"partial tail stays", {"a\nb"}, {"a"}},
        {"bare CR ends a line", {"a\rb\r"}, {"a", "b"}},
    };
    for (const Case &c : cases) {
        FtpReplyReader reader;
        for (const std::string &chunk : c.chunks)
            ASSERT_TRUE(reader.feed(chunk.data(), chunk.size())) << c.name;
        std::vector<std::string> lines;
        while (reader.hasLines())
            lines.push_back(reader.popLine());
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

TEST(FtpReplyReader, OverlongLineIsRefused)
{
    FtpReplyReader reader;
    const std::string chunk(FtpReplyReader::kMaxLineBytes / 2 + 1, 'x');
    EXPECT_TRUE(reader.feed(chunk.data(), chunk.size()));
    EXPECT_FALSE(reader.feed(chunk.data(), chunk.size()));
    // The reader is usable again for a normal line.
    EXPECT_TRUE(reader.feed("ok\n", 3));
    EXPECT_EQ(reader.popLine(), "ok");
}

TEST(FtpReplyReader, MultiLineRepliesEndAtTheirOwnCode)
{
    struct Case
    {
        const char *name;
        std::string bytes;
        std::vector<int> codes; // the replies read one after the other; -1: none complete yet
        std::size_t linesOfFirst;
    };

    const Case cases[] = {
        {"inner line that looks like a reply", "220-Welcome\r\n100 users at most\r\n220 Ready\r\n", {220}, 3},
        {"inner line with another code and a blank", "230-Hi\r\n331 not this\r\n230 Logged in\r\n", {230}, 3},
        {"continuation lines of the same code", "220-a\r\n220-b\r\n220 c\r\n331 next\r\n", {220, 331}, 3},
        {"open reply waits for its end", "220-a\r\n100 users\r\n", {-1}, 2},
        {"single line reply", "200 OK\r\n", {200}, 1},
        {"junk before a reply is skipped", "hello\r\n200 OK\r\n", {200}, 2},
    };
    for (const Case &c : cases) {
        FtpReplyReader reader;
        ASSERT_TRUE(reader.feed(c.bytes.data(), c.bytes.size())) << c.name;
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            std::deque<std::string> sink;
            EXPECT_EQ(reader.takeReply(&sink), c.codes[i]) << c.name;
            if (i == 0) {
                EXPECT_EQ(sink.size(), c.linesOfFirst) << c.name;
            }
        }
    }
}

TEST(FtpReplyReader, OpenReplyContinuesWithTheNextBytes)
{
    FtpReplyReader reader;
    const std::string first = "220-Welcome\r\n100 users at most\r\n";
    const std::string second = "220 Ready\r\n331 next\r\n";
    ASSERT_TRUE(reader.feed(first.data(), first.size()));
    EXPECT_EQ(reader.takeReply(nullptr), -1);
    ASSERT_TRUE(reader.feed(second.data(), second.size()));
    EXPECT_EQ(reader.takeReply(nullptr), 220);
    EXPECT_EQ(reader.takeReply(nullptr), 331);
}

} // namespace
} // namespace bw::net
