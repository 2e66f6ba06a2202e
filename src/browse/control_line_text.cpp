// SPDX-License-Identifier: MIT
#include "browse/control_line_text.h"

namespace bw::browse {

bool fitsControlLine(const std::string &text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

QString visibleControlText(const std::string &text)
{
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (c == '\0')
            shown += "\\0";
        else
            shown += c;
    }
    return QString::fromStdString(shown);
}

} // namespace bw::browse
