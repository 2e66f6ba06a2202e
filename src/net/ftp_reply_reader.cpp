// SPDX-License-Identifier: MIT
#include "net/ftp_reply_reader.h"

#include <algorithm>

namespace bw::net {

namespace {

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

} // namespace

bool FtpReplyReader::feed(const char *chunk, std::size_t length)
{
    std::size_t at = 0;
    if (m_afterBreak) {
        // The previous chunk ended inside a run of line breaks (a CR LF split across two reads).
        while (at < length && isLineBreak(chunk[at]))
            ++at;
    }
    while (at < length) {
        const char *start = chunk + at;
        const char *end = chunk + length;
        const char *lineBreak = std::find_if(start, end, isLineBreak);
        m_partialLine.append(start, static_cast<std::size_t>(lineBreak - start));
        if (m_partialLine.size() > kMaxLineBytes) {
            m_partialLine.clear();
            m_afterBreak = false;
            return false;
        }
        if (lineBreak == end) {
            m_afterBreak = false;
            return true;
        }
        m_lines.push_back(std::move(m_partialLine));
        m_partialLine.clear();
        at = static_cast<std::size_t>(lineBreak - chunk);
        while (at < length && isLineBreak(chunk[at]))
            ++at;
        m_afterBreak = at == length;
    }
    return true;
}

std::string FtpReplyReader::popLine()
{
    if (m_lines.empty())
        return {};
    std::string line = std::move(m_lines.front());
    m_lines.pop_front();
    return line;
}

void FtpReplyReader::clear()
{
    m_lines.clear();
    m_partialLine.clear();
    m_afterBreak = false;
}

int FtpReplyReader::takeReply(std::deque<std::string> *sink)
{
    int code = -1;
    while (code == -1 && hasLines()) {
        std::string line = popLine();
        code = replyCode(line);
        if (sink)
            sink->push_back(std::move(line));
    }
    return code;
}

int FtpReplyReader::replyCode(const std::string &line)
{
    if (line.size() <= 3 || line[3] != ' ')
        return -1;
    int value = 0;
    for (int i = 0; i < 3 && line[i] >= '0' && line[i] <= '9'; ++i)
        value = value * 10 + (line[i] - '0');
    return value == 0 ? -1 : value;
}

} // namespace bw::net
