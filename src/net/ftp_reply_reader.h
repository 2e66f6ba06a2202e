// SPDX-License-Identifier: MIT
// Turns received control-connection bytes into lines and lines into FTP replies, with no socket in
// it: the control connection feeds what it received, tests feed bytes directly. Owner thread only.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace bw::net {

class FtpReplyReader
{
public:
    // A control line longer than this ends the connection with an error: replies are short text, and a
    // line without end is a server that does not speak FTP (or one trying to fill our memory).
    static constexpr std::size_t kMaxLineBytes = 8 * 1024;

    // Appends received bytes: every CR or LF ends a line, a run of them ends just one. False when a
    // line grew past kMaxLineBytes (the partial line is dropped).
    bool feed(const char *chunk, std::size_t length);

    bool hasLines() const { return !m_lines.empty(); }

    // The oldest complete line, empty when there is none.
    std::string popLine();
    // Forgets every line and partial line (a new connection).
    void clear();

    // Takes queued lines until one ends a reply and returns its code; -1 when the queued lines do not
    // complete a reply yet (a multi-line reply stays open across calls). Every line taken goes to
    // `sink` when given; lines after the reply stay.
    int takeReply(std::deque<std::string> *sink);

    // The code of a final reply line: three digits and a blank ("220 Ready" gives 220); -1 for any
    // other line.
    static int replyCode(const std::string &line);
    // The code of the first line of a multi-line reply: three digits and a hyphen; -1 otherwise.
    static int continuationCode(const std::string &line);

private:
    std::deque<std::string> m_lines;
    std::string m_partialLine;
    bool m_afterBreak = false; // the last chunk ended in a line break
    int m_openCode = -1; // the code of a multi-line reply whose last line has not come yet
};

} // namespace bw::net
