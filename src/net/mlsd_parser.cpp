// SPDX-License-Identifier: MIT
#include "net/mlsd_parser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <string>

namespace bw::net {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(),
            [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

bool readDigits(std::string_view text, std::size_t at, std::size_t count, int &value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<std::int64_t> parseSize(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::int64_t> parseFtpTimeValue(std::string_view text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 4, 2, month) || !readDigits(text, 6, 2, day)
        || !readDigits(text, 8, 2, hour) || !readDigits(text, 10, 2, minute)
        || !readDigits(text, 12, 2, second))
        return std::nullopt;
    // Only a fraction of a second may follow, and it does not count.
    std::string_view rest = text.substr(14);
    if (!rest.empty()) {
        if (rest.front() != '.' || rest.size() < 2
            || !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23
        || minute > 59 || second > 60)
        return std::nullopt;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&parts));
}

std::optional<ListingEntry> parseMlsdLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    // The facts end at the first blank; the name is all after it, blanks and semicolons included.
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || blank + 1 >= line.size())
        return std::nullopt;
    std::string_view facts = line.substr(0, blank);
    const std::string_view name = line.substr(blank + 1);
    if (name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return std::nullopt;

    ListingEntry entry;
    entry.name = std::string(name);
    bool typed = false;
    while (!facts.empty()) {
        const std::size_t semicolon = facts.find(';');
        const std::string_view fact = facts.substr(0, semicolon);
        facts = semicolon == std::string_view::npos ? std::string_view() : facts.substr(semicolon + 1);
        const std::size_t equals = fact.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = fact.substr(0, equals);
        const std::string_view value = fact.substr(equals + 1);
        if (equalsIgnoringCase(key, "type")) {
            if (equalsIgnoringCase(value, "cdir") || equalsIgnoringCase(value, "pdir"))
                return std::nullopt;
            typed = true;
            entry.isDirectory = equalsIgnoringCase(value, "dir");
            // Links are no standard type: servers write "OS.unix=symlink" or "OS.unix=slink:target".
            const std::string_view unixPrefix = "OS.unix=";
            if (value.size() > unixPrefix.size()
                && equalsIgnoringCase(value.substr(0, unixPrefix.size()), unixPrefix)) {
                const std::string_view kind = value.substr(unixPrefix.size());
                entry.isLink = equalsIgnoringCase(kind, "symlink")
                    || equalsIgnoringCase(kind.substr(0, 6), "slink:") || equalsIgnoringCase(kind, "slink");
                // As in a LIST line, a link may lead to a folder: changing into it tells.
                entry.isDirectory = entry.isDirectory || entry.isLink;
            }
        } else if (equalsIgnoringCase(key, "size")
            || (equalsIgnoringCase(key, "sizd") && entry.sizeBytes == 0)) {
            if (const auto size = parseSize(value))
                entry.sizeBytes = *size;
        } else if (equalsIgnoringCase(key, "modify")) {
            if (const auto when = parseFtpTimeValue(value))
                entry.time = EntryTime::fromUtc(static_cast<std::time_t>(*when));
        }
    }
    // Without a type fact the line tells what the entry is no better than a bare name.
    entry.typeKnown = typed;
    return entry;
}

} // namespace bw::net
