// SPDX-License-Identifier: MIT
// printf-style text for log lines whose numbers and paths come together in one sentence.
#pragma once

#include <cstdio>
#include <string>

namespace bw::net {

std::string formatted(const char *format, auto... args)
{
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

} // namespace bw::net
