// SPDX-License-Identifier: MIT
#include "core/url_password_mask.h"

#include <cctype>

namespace bw::core {

namespace {

struct Span
{
    std::size_t start = std::string_view::npos;
    std::size_t length = 0;

    bool isValid() const { return start != std::string_view::npos; }
};

bool isSchemeChar(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// The length of the scheme prefixes ("ftp://", or stacked ones as in "http://ftpes://") at the start of
// `url`; 0 when it starts with none.
std::size_t prefixLength(std::string_view url)
{
    std::size_t begin = 0;
    for (;;) {
        std::size_t end = begin;
        while (end < url.size() && isSchemeChar(url[end]))
            ++end;
        if (end == begin || url.substr(end, 3) != "://")
            return begin;
        begin = end + 3;
    }
}

Span passwordSpan(std::string_view url)
{
    const std::size_t begin = prefixLength(url);
    if (begin == 0)
        return {};
    const std::size_t at = url.rfind('@');
    if (at == std::string_view::npos || at < begin)
        return {};
    const std::size_t colon = url.find(':', begin);
    if (colon == std::string_view::npos || colon > at)
        return {};
    return {colon + 1, at - colon - 1};
}

bool endsUrl(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0 || c == '"' || c == '\'' || c == '<' || c == '>';
}

} // namespace

std::string maskUrlPassword(std::string_view url)
{
    std::string masked(url);
    if (const Span span = passwordSpan(url); span.isValid())
        masked.replace(span.start, span.length, kPasswordMask);
    return masked;
}

std::string unmaskUrlPassword(std::string_view edited, std::string_view original)
{
    const Span editedSpan = passwordSpan(edited);
    const Span originalSpan = passwordSpan(original);
    if (!editedSpan.isValid() || !originalSpan.isValid()
        || edited.substr(editedSpan.start, editedSpan.length) != kPasswordMask)
        return std::string(edited);
    std::string restored(edited);
    restored.replace(
        editedSpan.start, editedSpan.length, original.substr(originalSpan.start, originalSpan.length));
    return restored;
}

std::string maskPasswordsInText(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    std::size_t done = 0;
    for (std::size_t mark = text.find("://"); mark != std::string_view::npos; mark = text.find("://", done)) {
        std::size_t start = mark;
        while (start > done && isSchemeChar(text[start - 1]))
            --start;
        std::size_t end = mark + 3;
        while (end < text.size() && !endsUrl(text[end]))
            ++end;
        result.append(text.substr(done, start - done));
        result += maskUrlPassword(text.substr(start, end - start));
        done = end;
    }
    result.append(text.substr(done));
    return result;
}

} // namespace bw::core
