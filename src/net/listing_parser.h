// SPDX-License-Identifier: MIT
// Reads an FTP directory listing one entry at a time: Unix and DOS layouts for LIST, bare names for
// NLST. No sockets here; the FTP connection that fetched the listing owns one and forwards to it.
// Used by one thread at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace bw::net {

// The date and time of an entry, as far as the listing line gives it. A line whose date or time is out
// of range (month 22, minute 99, 31 February) leaves every field 0: the date is unknown.
struct EntryTime
{
    std::uint16_t year = 0;
    std::uint16_t month = 0; // 1 to 12; 0 when the month name was not recognised
    std::uint16_t dayOfWeek = 0; // 0 = Sunday
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;

    bool operator==(const EntryTime &) const = default;

    // The given moment in UTC.
    static EntryTime fromUtc(std::time_t when);
};

// One parsed line of a full (LIST) listing.
struct ListingEntry
{
    std::string name;
    bool isDirectory = false;
    bool isLink = false;
    std::int64_t sizeBytes = 0;
    EntryTime time;
    // The listing told whether the entry is a file or a folder, and its size; a names-only listing
    // does not.
    bool typeKnown = true;
};

// Parses one line of a full listing. `now` fills the parts of the date the line does not give.
// A line that cannot be read yields whatever fields were found; it never fails.
ListingEntry parseListingLine(std::string_view line, const EntryTime &now);
ListingEntry parseUnixListingLine(std::string_view line, const EntryTime &now);
ListingEntry parseDosListingLine(std::string_view line, const EntryTime &now);

// The position (1 to 12) of the month whose first three letters match, ignoring case; 0 for none.
int monthFromName(std::string_view name);

// What a listing's lines hold: bare names (NLST), LIST lines, or machine listing (MLSD) lines.
enum class ListingFormat
{
    Names,
    Full,
    Machine,
};

class ListingParser
{
public:
    ListingParser() = default;

    // Starts a new listing. `full` is true for a LIST listing, false for a name-only (NLST) one.
    void setListing(std::string text, bool full)
    {
        setListing(std::move(text), full ? ListingFormat::Full : ListingFormat::Names);
    }

    void setListing(std::string text, ListingFormat format);

    // Reads the whole file as the new listing; false (and an empty listing) when it cannot be read.
    bool loadFile(const std::filesystem::path &path, bool full)
    {
        return loadFile(path, full ? ListingFormat::Full : ListingFormat::Names);
    }

    bool loadFile(const std::filesystem::path &path, ListingFormat format);
    void clear();

    // Consumes lines until an entry matches `pattern` ("*" accepts every named entry, anything else
    // only that exact name) and returns true, or returns false when the text is used up.
    bool parseNextEntry(const std::string &pattern);

    // The current entry. In a name-only listing only the name changes; the rest keep their values.
    std::string entryName() const { return m_entry.name; }

    bool entryIsDirectory() const { return m_entry.isDirectory; }

    bool entryIsLink() const { return m_entry.isLink; }

    std::int64_t entrySize() const { return m_entry.sizeBytes; }

    const EntryTime &entryTime() const { return m_entry.time; }

    const ListingEntry &entry() const { return m_entry; }

    // The text not yet consumed, and whether the listing is a full one.
    std::string listingText() const { return m_text.substr(m_pos); }

    bool hasText() const { return m_pos < m_text.size(); }

    bool isFullListing() const { return m_format != ListingFormat::Names; }

    // For tests: the moment taken as "now" when a line gives no date (0 = the real clock).
    void setNowForTesting(std::time_t now) { m_fixedNow = now; }

private:
    std::string takeLine();
    EntryTime now() const;

    std::string m_text;
    std::size_t m_pos = 0; // start of the unconsumed text in m_text
    ListingFormat m_format = ListingFormat::Full;
    ListingEntry m_entry;
    std::time_t m_fixedNow = 0;
};

} // namespace bw::net
