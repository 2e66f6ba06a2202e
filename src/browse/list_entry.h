// SPDX-License-Identifier: MIT
// The record behind every row of the remote and local panes, their shared row order, the date text of
// a listing entry, and the cache of remote listings (one per manual connection).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QMetaType>
#include <QString>

namespace bw::browse {

struct ListEntry
{
    std::string name;
    bool isDirectory = false;
    int group = 1; // 0 for the remote ".." row, 1 for every other row
    std::uint64_t size = 0;

    bool operator==(const ListEntry &) const = default;
};

// The row order: lower group first; directories before files; within each kind names starting with
// ":" lead, the rest compare ignoring case.
bool listEntryLess(const ListEntry &a, const ListEntry &b);

// "3/3/2001 2:05 PM": month/day/year, 12-hour clock, "AM" or "PM".
QString dateText(int year, int month, int day, int hour, int minute);
// A file's size in both panes: digits grouped by thousands ("1,234,567"); empty for an empty file.
QString fileSizeText(std::uint64_t bytes);

struct CachedEntry
{
    std::string name;
    std::string dateText;
    bool isDirectory = false;
    std::uint64_t size = 0;
};

// Remote listings by directory path (exact, case-sensitive); storing a path again replaces its entries.
// Not locked: its owner uses it from one thread at a time.
class ListingCache
{
public:
    // The entries of `directory`, or null when it was not listed.
    const std::vector<CachedEntry> *find(const std::string &directory) const;
    void store(const std::string &directory, std::vector<CachedEntry> entries);

    void clear() { m_listings.clear(); }

    std::size_t size() const { return m_listings.size(); }

private:
    std::vector<std::pair<std::string, std::vector<CachedEntry>>> m_listings;
};

} // namespace bw::browse

Q_DECLARE_METATYPE(bw::browse::ListEntry)
