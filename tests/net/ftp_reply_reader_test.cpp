// SPDX-License-Identifier: MIT
// The reply reader fed bytes directly: line splitting, reply codes and whole replies; and the
// addresses read from 227 and 229 replies.
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "net/ftp_passive_reply.h"
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
    // Replies are short: a 9000-byte line is no reply, while a line of the limit itself is one.
    const std::string longest = "200 " + std::string(FtpReplyReader::kMaxLineBytes - 4, 'y') + "\r\n";
    EXPECT_TRUE(reader.feed(longest.data(), longest.size()));
    EXPECT_EQ(reader.takeReply(nullptr), 200);
    const std::string tooLong = "227 (1" + std::string(9000, ' ') + ")\r\n";
    EXPECT_FALSE(reader.feed(tooLong.data(), tooLong.size()));
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

TEST(FtpPassiveReply, FindsTheSixNumbersOfA227Reply)
{
    struct Case
    {
        const char *name;
        std::string reply;
        bool found;
        const char *host;
        int port;
    };

    const std::string blanks(45000, ' ');
    const Case cases[] = {
        {"parentheses", "227 Entering Passive Mode (192,168,1,2,19,137)", true, "192.168.1.2", 5001},
        {"with a closing dot", "227 Entering Passive Mode (127,0,0,1,200,10).", true, "127.0.0.1", 51210},
        {"after an equals sign", "227 Entering Passive Mode=10,0,0,1,4,1", true, "10.0.0.1", 1025},
        {"bare at the end", "227 passive 10,0,0,1,4,1", true, "10.0.0.1", 1025},
        {"no text at all", "2271,2,3,4,5,6", true, "1.2.3.4", 1286},
        {"blanks around the commas", "227 (10 , 0,\t0 ,1, 4 ,1)", true, "10.0.0.1", 1025},
        {"leading zeros", "227 (010,000,000,001,004,001)", true, "10.0.0.1", 1025},
        {"a broken group before the address", "227 v1,2 ok (10,0,0,1,4,1)", true, "10.0.0.1", 1025},
        {"four digits start one digit later", "227 (1234,1,2,3,4,5)", true, "234.1.2.3", 1029},
        {"the last number reads three digits", "227 (1,2,3,4,5,1234)", true, "1.2.3.4", 1403},
        {"blanks by the thousand", "227 (1" + blanks + ",2,3,4,5,6)", true, "1.2.3.4", 1286},
        {"blanks without a comma", "227 (1" + blanks + ")", false, "", 0},
        {"a number past 255", "227 (256,0,0,1,4,1)", false, "", 0},
        {"a last number past 255", "227 (1,2,3,4,5,678)", false, "", 0},
        {"five numbers", "227 (10,0,0,1,4)", false, "", 0},
        {"the code is no number", "227,0,0,1,4,1", false, "", 0},
        {"empty", "", false, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string host;
        int port = 0;
        ASSERT_EQ(findPassiveAddress(c.reply, host, port), c.found);
        if (c.found) {
            EXPECT_EQ(host, c.host);
            EXPECT_EQ(port, c.port);
        }
    }
}

TEST(FtpPassiveReply, FindsThePortOfA229Reply)
{
    const std::pair<std::string, int> cases[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", 6446},
        {"229 Entering Extended Passive Mode (!!!65535!).", 65535},
        {"229 (|||1|)", 1},
        {"229 (|||65536|)", -1},
        {"229 (|||123456|)", -1},
        {"229 (|||6446!)", -1},
        {"229 (||||)", -1},
        {"229 )(|||6446|", -1},
        {"229 (|||" + std::string(45000, ' ') + "|)", -1},
    };
    for (const auto &[reply, expected] : cases) {
        SCOPED_TRACE(reply.substr(0, 60));
        int port = -1;
        EXPECT_EQ(findExtendedPassivePort(reply, port), expected > 0);
        if (expected > 0) {
            EXPECT_EQ(port, expected);
        }
    }
}

} // namespace
} // namespace bw::net
