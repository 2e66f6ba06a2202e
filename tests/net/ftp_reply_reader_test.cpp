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
        {"12a x", 12},
        {"2200 x", -1},
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

} // namespace
} // namespace bw::net
