// SPDX-License-Identifier: MIT
#include "net/listing_parser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <fstream>
#include <sstream>

#include "net/mlsd_parser.h"

namespace bw::net {

namespace {

// Lines shorter than this in a full listing carry no entry ("total 42").
constexpr std::size_t kMinimumEntryLine = 40;

// The time of an entry whose line gives an impossible date or time: every field 0.
constexpr EntryTime kUnknownTime{};

bool isBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlankOrTab(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlankOrTab(text.back()))
        text.remove_suffix(1);
    return text;
}

// Splits a listing line into blank-separated fields from the left; the rest of the line stays
// available as one piece for names with inner blanks.
class FieldCursor
{
public:
    explicit FieldCursor(std::string_view line)
        : m_rest(line)
    {}

    // The next non-empty field, or false when the line is used up.
    bool next(std::string_view &field)
    {
        while (!m_rest.empty()) {
            const auto blank = m_rest.find(' ');
            std::string_view piece = m_rest.substr(0, blank);
            m_rest = blank == std::string_view::npos ? std::string_view{} : m_rest.substr(blank + 1);
            piece = trim(piece);
            if (!piece.empty()) {
                field = piece;
                return true;
            }
        }
        return false;
    }

    std::string_view rest() const { return trim(m_rest); }

private:
    std::string_view m_rest;
};

// The decimal number at the front of `text` (after leading white space); 0 when there is none.
std::int64_t leadingNumber(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    std::int64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc{})
        return 0;
    return value;
}

std::uint16_t small(std::int64_t value)
{
    if (value < 0 || value > 0xffff)
        return 0;
    return static_cast<std::uint16_t>(value);
}

bool hasDigit(std::string_view text)
{
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            return true;
    }
    return false;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The day of the week for a valid date, or `fallback`.
std::uint16_t weekdayOf(const EntryTime &t, std::uint16_t fallback)
{
    using namespace std::chrono;
    const year_month_day date{year{t.year}, month{t.month}, day{t.day}};
    if (!date.ok())
        return fallback;
    return static_cast<std::uint16_t>(weekday{sys_days{date}}.c_encoding());
}

bool inRange(std::int64_t value, std::int64_t low, std::int64_t high)
{
    return value >= low && value <= high;
}

// Whether the day exists in its month and year; a month of 0 (a name not recognised) leaves only the
// day's own range to check.
bool isPossibleDate(const EntryTime &t)
{
    using namespace std::chrono;
    if (t.month == 0)
        return inRange(t.day, 1, 31);
    return year_month_day{year{t.year}, month{t.month}, day{t.day}}.ok();
}

// Two-digit DOS years: 70-99 are 19xx, 00-69 are 20xx.
std::uint16_t widenYear(std::int64_t year)
{
    if (year >= 0 && year < 70)
        return small(year + 2000);
    if (year >= 70 && year < 100)
        return small(year + 1900);
    return small(year);
}

std::int64_t daysOf(const EntryTime &t)
{
    using namespace std::chrono;
    const year_month_day date{year{t.year}, month{t.month}, day{t.day}};
    if (!date.ok())
        return 0;
    return sys_days{date}.time_since_epoch().count();
}

} // namespace

EntryTime EntryTime::fromUtc(std::time_t when)
{
    std::tm parts{};
    gmtime_r(&when, &parts);
    EntryTime t;
    t.year = small(parts.tm_year + 1900);
    t.month = small(parts.tm_mon + 1);
    t.dayOfWeek = small(parts.tm_wday);
    t.day = small(parts.tm_mday);
    t.hour = small(parts.tm_hour);
    t.minute = small(parts.tm_min);
    t.second = small(parts.tm_sec);
    return t;
}

int monthFromName(std::string_view name)
{
    static constexpr std::array<std::string_view, 12> kMonths{
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (name.size() < 3)
        return 0;
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (equalsIgnoringCase(name.substr(0, 3), kMonths[i]))
            return static_cast<int>(i) + 1;
    }
    return 0;
}

ListingEntry parseUnixListingLine(std::string_view line, const EntryTime &now)
{
    ListingEntry entry;
    entry.time = now;
    FieldCursor cursor(line);
    std::array<std::string_view, 8> fields{};
    std::size_t count = 0;
    while (count < fields.size() && cursor.next(fields[count]))
        ++count;
    if (count == 0)
        return entry;

    const std::string_view permissions = fields[0];
    entry.isDirectory = permissions.front() == 'd' || permissions.front() == 'l';
    entry.isLink = permissions.front() == 'l';
    if (count > 4)
        entry.sizeBytes = std::max<std::int64_t>(0, leadingNumber(fields[4]));

    const std::string_view rest = cursor.rest();
    if (count < fields.size() || rest.empty()) {
        // The line ends before the name: its last field names the entry, dated now.
        entry.name = std::string(fields[count - 1]);
        return entry;
    }

    std::string name(rest);
    if (entry.isLink) {
        const auto arrow = name.find("->");
        if (arrow != std::string::npos && arrow > 0) {
            name.erase(arrow);
            while (!name.empty() && isBlankOrTab(name.back()))
                name.pop_back();
        }
    }
    entry.name = std::move(name);

    const std::string_view monthField = fields[5];
    const std::string_view timeOrYear = fields[7];
    if (timeOrYear.size() > 3 && monthField.size() > 2) {
        EntryTime &t = entry.time;
        const std::int64_t day = leadingNumber(fields[6]);
        std::int64_t year = t.year;
        std::int64_t hour = 0;
        std::int64_t minute = 0;
        const auto colon = timeOrYear.find(':');
        if (colon == std::string_view::npos) {
            year = leadingNumber(timeOrYear);
        } else {
            hour = leadingNumber(timeOrYear.substr(0, colon));
            minute = leadingNumber(timeOrYear.substr(colon + 1));
        }
        if (!inRange(day, 1, 31) || !inRange(year, 0, 9999) || !inRange(hour, 0, 23)
            || !inRange(minute, 0, 59)) {
            entry.time = kUnknownTime;
            return entry;
        }
        t.month = small(monthFromName(monthField));
        t.day = small(day);
        t.year = small(year);
        t.hour = small(hour);
        t.minute = small(minute);
        // A time instead of a year means the last twelve months: a date ahead of today belongs to
        // last year (a December file listed in January).
        if (colon != std::string_view::npos && t.month != 0 && daysOf(t) > daysOf(now) + 1)
            t.year = small(t.year - 1);
        if (!isPossibleDate(t)) {
            entry.time = kUnknownTime;
            return entry;
        }
        t.dayOfWeek = weekdayOf(t, now.dayOfWeek);
    }
    return entry;
}

ListingEntry parseDosListingLine(std::string_view line, const EntryTime &now)
{
    ListingEntry entry;
    entry.time = now;
    FieldCursor cursor(line);
    std::array<std::string_view, 3> fields{};
    std::size_t count = 0;
    while (count < fields.size() && cursor.next(fields[count]))
        ++count;

    EntryTime &t = entry.time;
    bool possible = true;
    if (count > 0) {
        // month-day-year
        const std::string_view date = fields[0];
        const auto dash1 = date.find('-');
        const auto dash2 = dash1 == std::string_view::npos ? dash1 : date.find('-', dash1 + 1);
        const std::int64_t month = leadingNumber(date.substr(0, dash1));
        const std::int64_t day = dash1 == std::string_view::npos ? 0 : leadingNumber(date.substr(dash1 + 1));
        const std::int64_t year =
            dash2 == std::string_view::npos ? -1 : leadingNumber(date.substr(dash2 + 1));
        possible = inRange(month, 1, 12) && inRange(day, 1, 31) && inRange(year, 0, 9999);
        t.month = small(month);
        t.day = small(day);
        t.year = widenYear(year);
    }
    if (count > 1 && possible) {
        const std::string_view time = fields[1];
        const auto colon = time.find(':');
        std::int64_t hour = leadingNumber(time.substr(0, colon));
        std::int64_t minute = 0;
        if (colon != std::string_view::npos) {
            const std::string_view tail = time.substr(colon + 1);
            minute = leadingNumber(tail);
            const auto marker = tail.find_first_of("APap");
            if (marker != std::string_view::npos) {
                // 12 AM is midnight and 12 PM noon on a 24-hour clock.
                const bool pm = tail[marker] == 'P' || tail[marker] == 'p';
                possible = inRange(hour, 0, 12);
                hour = hour % 12 + (pm ? 12 : 0);
            }
        }
        possible = possible && inRange(hour, 0, 23) && inRange(minute, 0, 59);
        t.hour = small(hour);
        t.minute = small(minute);
    }
    // A date or time out of range (month 22, minute 99) is not shown as if it were one.
    if (!possible || !isPossibleDate(t))
        t = kUnknownTime;
    else
        t.dayOfWeek = weekdayOf(t, now.dayOfWeek);
    if (count > 2) {
        if (equalsIgnoringCase(fields[2], "<DIR>"))
            entry.isDirectory = true;
        else
            entry.sizeBytes = std::max<std::int64_t>(0, leadingNumber(fields[2]));
    }
    entry.name = std::string(cursor.rest());
    return entry;
}

ListingEntry parseListingLine(std::string_view line, const EntryTime &now)
{
    FieldCursor cursor(line);
    std::string_view first;
    if (!cursor.next(first)) {
        ListingEntry entry;
        entry.time = now;
        return entry;
    }
    return hasDigit(first) ? parseDosListingLine(line, now) : parseUnixListingLine(line, now);
}

void ListingParser::setListing(std::string text, ListingFormat format)
{
    m_text = std::move(text);
    m_pos = 0;
    m_format = format;
}

bool ListingParser::loadFile(const std::filesystem::path &path, ListingFormat format)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setListing({}, format);
        return false;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) {
        setListing({}, format);
        return false;
    }
    setListing(std::move(contents).str(), format);
    return true;
}

void ListingParser::clear()
{
    m_text.clear();
    m_pos = 0;
    m_entry = {};
}

std::string ListingParser::takeLine()
{
    const auto end = m_text.find_first_of("\r\n", m_pos);
    std::string line;
    if (end == std::string::npos) {
        line = m_text.substr(m_pos);
        m_pos = m_text.size();
    } else {
        line = m_text.substr(m_pos, end - m_pos);
        m_pos = m_text.find_first_not_of("\r\n", end);
        if (m_pos == std::string::npos)
            m_pos = m_text.size();
    }
    return line;
}

EntryTime ListingParser::now() const
{
    return EntryTime::fromUtc(m_fixedNow != 0 ? m_fixedNow : std::time(nullptr));
}

bool ListingParser::parseNextEntry(const std::string &pattern)
{
    while (hasText()) {
        std::string line = takeLine();
        if (m_format == ListingFormat::Machine) {
            // Lines of the folder itself, its parent and unreadable ones name no entry.
            std::optional<ListingEntry> entry = parseMlsdLine(line);
            if (!entry)
                continue;
            m_entry = std::move(*entry);
        } else if (m_format == ListingFormat::Full && line.size() < kMinimumEntryLine && hasText()) {
            continue;
        } else if (m_format == ListingFormat::Full && !line.empty()) {
            m_entry = parseListingLine(line, now());
        } else {
            m_entry.name = std::move(line);
        }

        // An entry without a name (a stray blank line) is never a match; the walk goes on past it.
        if (m_entry.name.empty())
            continue;
        if (pattern == "*" || m_entry.name == pattern)
            return true;
    }
    return false;
}

} // namespace bw::net
