// SPDX-License-Identifier: MIT
// Directory listings (Unix, DOS and name-only lines): the walk ends, every entry has a name on one
// line, a size of at least 0, and a date that is either in range or unknown (all 0).
#include <chrono>

#include "fuzz_check.h"
#include "net/listing_parser.h"

namespace {

using bw::net::EntryTime;

void checkTime(const EntryTime &t)
{
    BW_FUZZ_CHECK(t.month <= 12);
    BW_FUZZ_CHECK(t.day <= 31);
    BW_FUZZ_CHECK(t.hour <= 23);
    BW_FUZZ_CHECK(t.minute <= 59);
    BW_FUZZ_CHECK(t.second <= 59);
    BW_FUZZ_CHECK(t.dayOfWeek <= 6);
    if (t.month != 0) {
        using namespace std::chrono;
        BW_FUZZ_CHECK((year_month_day{year{t.year}, month{t.month}, day{t.day}}.ok()));
    }
}

void checkEntry(const bw::net::ListingEntry &entry)
{
    BW_FUZZ_CHECK(entry.sizeBytes >= 0);
    BW_FUZZ_CHECK(entry.name.find_first_of("\r\n") == std::string::npos);
    BW_FUZZ_CHECK(!entry.isLink || entry.isDirectory);
    checkTime(entry.time);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks a full (LIST) or a name-only (NLST) listing.
    const bool full = (data[0] & 1) != 0;
    const std::string text(bw::fuzz::bytesOf(data + 1, size - 1));
    const EntryTime now = EntryTime::fromUtc(1796631342); // Monday 7 December 2026, 08:15:42 UTC

    bw::net::ListingParser parser;
    parser.setNowForTesting(1796631342);
    parser.setListing(text, full);
    std::size_t entries = 0;
    while (parser.parseNextEntry("*")) {
        BW_FUZZ_CHECK(++entries <= text.size());
        BW_FUZZ_CHECK(!parser.entryName().empty());
        checkEntry(parser.entry());
    }
    BW_FUZZ_CHECK(!parser.hasText());

    // Every line through both layouts, whichever its first field would choose.
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find_first_of("\r\n", start), text.size());
        const std::string_view line = std::string_view(text).substr(start, end - start);
        checkEntry(bw::net::parseListingLine(line, now));
        checkEntry(bw::net::parseUnixListingLine(line, now));
        checkEntry(bw::net::parseDosListingLine(line, now));
        start = end + 1;
    }
    return 0;
}
