// SPDX-License-Identifier: MIT
#include "net/http_date.h"

#include <ctime>
#include <string>
#include <vector>

#include "net/listing_parser.h"

namespace bw::net {

namespace {

std::vector<std::string_view> splitOn(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> pieces;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(separators, at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = text.find_first_of(separators, start);
        pieces.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        at = end == std::string_view::npos ? text.size() : end;
    }
    return pieces;
}

bool readNumber(std::string_view text, std::size_t minDigits, std::size_t maxDigits, int &value)
{
    if (text.size() < minDigits || text.size() > maxDigits)
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// "08:49:37"
bool readClock(std::string_view text, std::tm &parts)
{
    const std::vector<std::string_view> fields = splitOn(text, ":");
    return fields.size() == 3 && readNumber(fields[0], 2, 2, parts.tm_hour)
        && readNumber(fields[1], 2, 2, parts.tm_min) && readNumber(fields[2], 2, 2, parts.tm_sec)
        && parts.tm_hour < 24 && parts.tm_min < 60 && parts.tm_sec < 61;
}

std::optional<std::int64_t> secondsOf(std::tm parts, int year, int month, int day)
{
    if (month < 1 || day < 1 || day > 31 || year < 1970)
        return std::nullopt;
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    std::tm normalised = parts;
    const std::time_t when = timegm(&normalised);
    // timegm rolls 31 February over into March: such a date is none.
    if (normalised.tm_mday != day || normalised.tm_mon != month - 1)
        return std::nullopt;
    return static_cast<std::int64_t>(when);
}

} // namespace

std::optional<std::int64_t> parseHttpDate(std::string_view text)
{
    std::tm parts{};
    int year = 0;
    int day = 0;
    const std::vector<std::string_view> fields = splitOn(text, " ");
    if (fields.size() == 6 && fields[5] == "GMT") {
        // "Sun, 06 Nov 1994 08:49:37 GMT"
        if (!readNumber(fields[1], 1, 2, day) || !readNumber(fields[3], 4, 4, year)
            || !readClock(fields[4], parts))
            return std::nullopt;
        return secondsOf(parts, year, monthFromName(fields[2]), day);
    }
    if (fields.size() == 4 && fields[3] == "GMT") {
        // "Sunday, 06-Nov-94 08:49:37 GMT": a two-digit year from 70 on is of the 1900s.
        const std::vector<std::string_view> date = splitOn(fields[1], "-");
        if (date.size() != 3 || !readNumber(date[0], 1, 2, day) || !readNumber(date[2], 2, 2, year)
            || !readClock(fields[2], parts))
            return std::nullopt;
        return secondsOf(parts, year + (year >= 70 ? 1900 : 2000), monthFromName(date[1]), day);
    }
    if (fields.size() == 5) {
        // "Sun Nov  6 08:49:37 1994"
        if (!readNumber(fields[2], 1, 2, day) || !readClock(fields[3], parts)
            || !readNumber(fields[4], 4, 4, year))
            return std::nullopt;
        return secondsOf(parts, year, monthFromName(fields[1]), day);
    }
    return std::nullopt;
}

} // namespace bw::net
