// SPDX-License-Identifier: MIT
// Names and paths that go into an FTP command line: a CR, LF or NUL inside one would end the command
// early and let the rest through as a command of its own. Pure functions, any thread.
#pragma once

#include <string>

#include <QString>

namespace bw::browse {

// True when `text` may be sent inside a control line.
bool fitsControlLine(const std::string &text);

// `text` for a log line, with CR, LF and NUL written as \r, \n and \0 so the line stays one line.
QString visibleControlText(const std::string &text);

} // namespace bw::browse
