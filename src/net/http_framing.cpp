// SPDX-License-Identifier: MIT
#include "net/http_framing.h"

#include <cctype>
#include <charconv>
#include <string_view>

namespace bw::net {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// RFC 9110 5.6.1: a list of comma-separated elements, empty ones skipped; all fields of one name
// form a single list in order.
std::vector<std::string> listElements(const std::vector<std::string> &fields)
{
    std::vector<std::string> elements;
    for (const std::string &field : fields) {
        std::string_view rest = field;
        while (true) {
            const auto comma = rest.find(',');
            const std::string_view element = trimmed(rest.substr(0, comma));
            if (!element.empty())
                elements.emplace_back(element);
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    return elements;
}

// A transfer coding's name without parameters, in lower case.
std::string codingName(std::string_view element)
{
    element = trimmed(element.substr(0, element.find(';')));
    std::string name(element);
    for (char &c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

} // namespace

bool isInterimStatus(int status)
{
    return status >= 100 && status <= 199 && status != 101;
}

std::optional<std::int64_t> contentLengthOf(const std::vector<std::string> &values)
{
    std::optional<std::int64_t> length;
    for (const std::string &element : listElements(values)) {
        // Content-Length = 1*DIGIT: no sign, no blanks inside, no other characters.
        std::int64_t value = -1;
        const auto parsed = std::from_chars(element.data(), element.data() + element.size(), value);
        if (element.front() < '0' || element.front() > '9' || parsed.ec != std::errc{}
            || parsed.ptr != element.data() + element.size())
            return std::nullopt;
        if (length && *length != value)
            return std::nullopt;
        length = value;
    }
    return length;
}

HttpFraming httpFraming(const HttpFramingFields &fields)
{
    using Kind = HttpFraming::Kind;
    // RFC 9112 6.3 rule 1: these responses end with their header, whatever it declares.
    if (fields.headRequest || (fields.status >= 100 && fields.status <= 199) || fields.status == 204
        || fields.status == 304)
        return {Kind::NoBody, -1, true};

    if (!fields.transferEncodings.empty()) {
        // RFC 9112 6.1: Transfer-Encoding in an HTTP/1.0 message means its framing is faulty.
        if (fields.http10)
            return {Kind::Invalid, -1, false};
        const std::vector<std::string> codings = listElements(fields.transferEncodings);
        std::size_t chunkedCount = 0;
        for (const std::string &coding : codings)
            chunkedCount += codingName(coding) == "chunked" ? 1 : 0;
        // Chunked is applied once at most: twice leaves no single reading of where the body ends.
        if (chunkedCount > 1)
            return {Kind::Invalid, -1, false};
        // Rule 3: Transfer-Encoding overrides Content-Length; a message that has both may be an attempt
        // to smuggle a second one, so its connection is not used again.
        const bool reusable = fields.contentLengths.empty();
        if (!codings.empty() && codingName(codings.back()) == "chunked")
            return {Kind::Chunked, -1, reusable};
        return {Kind::ToClose, -1, false};
    }
    if (!fields.contentLengths.empty()) {
        // Rule 5: a length that cannot be read, or lengths that disagree, leave no way to find the end.
        const auto length = contentLengthOf(fields.contentLengths);
        if (!length)
            return {Kind::Invalid, -1, false};
        return {Kind::Length, *length, true};
    }
    // Rule 8: neither field: the body runs to the close.
    return {Kind::ToClose, -1, false};
}

} // namespace bw::net
