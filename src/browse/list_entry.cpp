// SPDX-License-Identifier: MIT
#include "browse/list_entry.h"

#include <algorithm>
#include <cctype>

#include "widgets/format_grouped_number.h"

namespace bw::browse {

namespace {

int compareIgnoringCase(const std::string &a, const std::string &b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int left = std::tolower(static_cast<unsigned char>(a[i]));
        const int right = std::tolower(static_cast<unsigned char>(b[i]));
        if (left != right)
            return left < right ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool startsWithColon(const std::string &name)
{
    return !name.empty() && name.front() == ':';
}

} // namespace

bool listEntryLess(const ListEntry &a, const ListEntry &b)
{
    if (a.group != b.group)
        return a.group < b.group;
    if (a.isDirectory != b.isDirectory)
        return a.isDirectory;
    const bool colonA = startsWithColon(a.name);
    const bool colonB = startsWithColon(b.name);
    if (colonA != colonB)
        return colonA;
    return compareIgnoringCase(a.name, b.name) < 0;
}

QString dateText(int year, int month, int day, int hour, int minute)
{
    QString suffix = QStringLiteral("AM");
    if (hour > 11) {
        hour -= 12;
        suffix = QStringLiteral("PM");
    }
    if (hour == 0)
        hour = 12;
    return QStringLiteral("%1/%2/%3 %4:%5 %6")
        .arg(month)
        .arg(day)
        .arg(year)
        .arg(hour)
        .arg(minute, 2, 10, QLatin1Char('0'))
        .arg(suffix);
}

const std::vector<CachedEntry> *ListingCache::find(const std::string &directory) const
{
    for (const auto &[path, entries] : m_listings) {
        if (path == directory)
            return &entries;
    }
    return nullptr;
}

void ListingCache::store(const std::string &directory, std::vector<CachedEntry> entries)
{
    for (auto &[path, cached] : m_listings) {
        if (path == directory) {
            cached = std::move(entries);
            return;
        }
    }
    m_listings.emplace_back(directory, std::move(entries));
}

QString fileSizeText(std::uint64_t bytes)
{
    return widgets::FormatGroupedNumber(bytes);
}

} // namespace bw::browse
