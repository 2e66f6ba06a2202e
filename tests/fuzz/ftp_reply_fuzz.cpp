// SPDX-License-Identifier: MIT
// FTP control replies: however the bytes are split between reads, the reader gives lines of one line
// each within its limit and codes of three digits; the 227 scan finds what the pattern of six numbers
// finds, and a 229 port is always one the network can carry.
#include <deque>
#include <regex>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "net/ftp_passive_reply.h"
#include "net/ftp_reply_reader.h"

namespace {

using bw::net::FtpReplyReader;

// The address the way a regular expression reads it, for short lines (its matching recurses per blank).
bool passiveAddressByPattern(const std::string &reply, std::string &host, int &port)
{
    static const std::regex sixNumbers(
        R"((\d{1,3})\s*,\s*(\d{1,3})\s*,\s*(\d{1,3})\s*,\s*(\d{1,3})\s*,\s*(\d{1,3})\s*,\s*(\d{1,3}))");
    const std::string text = reply.size() > 3 ? reply.substr(3) : std::string();
    std::smatch match;
    if (!std::regex_search(text, match, sixNumbers))
        return false;
    int numbers[6];
    for (int i = 0; i < 6; ++i) {
        numbers[i] = std::stoi(match[i + 1].str());
        if (numbers[i] > 255)
            return false;
    }
    host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2])
        + "." + std::to_string(numbers[3]);
    port = numbers[4] * 256 + numbers[5];
    return true;
}

void checkLine(const std::string &line)
{
    BW_FUZZ_CHECK(line.size() <= FtpReplyReader::kMaxLineBytes);
    BW_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);

    std::string host;
    int port = -1;
    const bool found = bw::net::findPassiveAddress(line, host, port);
    BW_FUZZ_CHECK(!found || (port >= 0 && port <= 65535 && host.size() <= 15));
    if (line.size() <= 512) {
        std::string patternHost;
        int patternPort = -1;
        BW_FUZZ_CHECK(passiveAddressByPattern(line, patternHost, patternPort) == found);
        BW_FUZZ_CHECK(!found || (patternHost == host && patternPort == port));
    }
    int extendedPort = -1;
    if (bw::net::findExtendedPassivePort(line, extendedPort))
        BW_FUZZ_CHECK(extendedPort >= 1 && extendedPort <= 65535);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the size of the reads; the rest is what the server sent.
    const std::size_t readBytes = data[0] % 64 + 1;
    const std::string_view text = bw::fuzz::bytesOf(data + 1, size - 1);
    FtpReplyReader reader;
    std::deque<std::string> lines;
    for (std::size_t at = 0; at < text.size(); at += readBytes) {
        const std::string_view chunk = text.substr(at, readBytes);
        if (!reader.feed(chunk.data(), chunk.size())) {
            reader.clear(); // the connection would end here
            continue;
        }
        for (int code = reader.takeReply(&lines); code != -1; code = reader.takeReply(&lines))
            BW_FUZZ_CHECK(code >= 1 && code <= 999);
    }
    for (const std::string &line : lines)
        checkLine(line);
    return 0;
}
