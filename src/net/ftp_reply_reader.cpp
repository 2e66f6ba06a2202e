// SPDX-License-Identifier: MIT
#include "net/ftp_reply_reader.h"

#include <algorithm>

namespace bw::net {

namespace {

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Three digits, not 000, followed by `mark`: the code, else -1.
int codeFollowedBy(const std::string &line, char mark)
{
    if (line.size() < 4 || line[3] != mark || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return -1;
    const int value = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    return value == 0 ? -1 : value;
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
    m_openCode = -1;
}

int FtpReplyReader::takeReply(std::deque<std::string> *sink)
{
    int code = -1;
    while (code == -1 && hasLines()) {
        std::string line = popLine();
        if (m_openCode != -1) {
            // RFC 959 4.2: a multi-line reply ends only at a line with its own code and a blank; text
            // lines inside it may look like other replies ("100 users at most").
            if (replyCode(line) == m_openCode) {
                code = m_openCode;
                m_openCode = -1;
            }
        } else if (const int opening = continuationCode(line); opening != -1) {
            m_openCode = opening;
        } else {
            code = replyCode(line);
        }
        if (sink)
            sink->push_back(std::move(line));
    }
    return code;
}

int FtpReplyReader::replyCode(const std::string &line)
{
    return codeFollowedBy(line, ' ');
}

int FtpReplyReader::continuationCode(const std::string &line)
{
    return codeFollowedBy(line, '-');
}

} // namespace bw::net
