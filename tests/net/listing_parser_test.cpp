// SPDX-License-Identifier: MIT
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/listing_parser.h"
#include "support/temp_dir.h"

namespace bw::net {
namespace {

std::time_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return timegm(&parts);
}

// "Now" for every case: Monday 7 December 2026, 08:15:42 UTC.
const std::time_t kNow = utc(2026, 12, 7, 8, 15, 42);

struct LineCase
{
    const char *name;
    const char *line;
    const char *entryName;
    bool isDirectory;
    std::int64_t size;
    int year, month, day, hour, minute; // -1: the current value
};

TEST(ListingLineTest, ParsesUnixAndDosLines)
{
    const LineCase cases[] = {
        {"UnixDirectoryWithTime", "drwxr-xr-x    2 ftp      ftp          4096 Jan  5 12:30 pub", "pub", true,
            4096, 2026, 1, 5, 12, 30},
        {"UnixDirectoryWithYear", "drwxr-xr-x    2 ftp      ftp          4096 Jan  5  2001 pub", "pub", true,
            4096, 2001, 1, 5, 0, 0},
        {"UnixLinkIsDirectoryAndLosesTarget",
            "lrwxrwxrwx    1 ftp      ftp            15 Mar 10  2020 docs -> /usr/share/docs", "docs", true,
            15, 2020, 3, 10, 0, 0},
        {"UnixArrowInPlainFileStays", "-rw-r--r--    1 ftp      ftp           7 Mar 10  2020 a -> b",
            "a -> b", false, 7, 2020, 3, 10, 0, 0},
        {"UnixInnerBlanksKeptOuterTrimmed",
            "-rw-r--r--    1 ftp      ftp         1234 Feb 28 09:05   My  Summer Photos.zip  ",
            "My  Summer Photos.zip", false, 1234, 2026, 2, 28, 9, 5},
        {"UnixSizeBeyond4GiB", "-rw-r--r--    1 ftp      ftp   5368709120 Jun  1  2024 big.iso", "big.iso",
            false, 5368709120LL, 2024, 6, 1, 0, 0},
        {"UnixUnknownMonthIsZero", "-rw-r--r--    1 ftp      ftp          10 Foo  1  2024 odd", "odd", false,
            10, 2024, 0, 1, 0, 0},
        {"UnixMonthIgnoresCase", "-rw-r--r--    1 ftp      ftp          10 DECEMBER  1  2024 x", "x", false,
            10, 2024, 12, 1, 0, 0},
        {"UnixFutureDateIsLastYear", "-rw-r--r--    1 ftp      ftp          10 Dec 24 18:00 gift", "gift",
            false, 10, 2025, 12, 24, 18, 0},
        {"UnixShortLineTakesLastFieldDatedNow", "total 48", "48", false, 0, -1, -1, -1, -1, -1},
        {"DosDirectoryPm", "01-15-01  10:30PM       <DIR>          My Files", "My Files", true, 0, 2001, 1,
            15, 22, 30},
        {"DosFileAm", "01-15-01  10:30AM                 1234 My Files", "My Files", false, 1234, 2001, 1, 15,
            10, 30},
        {"DosDirIgnoresCase", "12-31-99  09:00AM       <dir>          old", "old", true, 0, 1999, 12, 31, 9,
            0},
        {"DosNoonAndMidnight", "06-01-2024  12:00PM                 1 noon.txt", "noon.txt", false, 1, 2024,
            6, 1, 12, 0},
        {"DosMidnight", "06-01-2024  12:05AM                 1 midnight.txt", "midnight.txt", false, 1, 2024,
            6, 1, 0, 5},
    };
    const EntryTime now = EntryTime::fromUtc(kNow);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ListingEntry entry = parseListingLine(c.line, now);
        EXPECT_EQ(entry.name, c.entryName);
        EXPECT_EQ(entry.isDirectory, c.isDirectory);
        EXPECT_EQ(entry.sizeBytes, c.size);
        EXPECT_EQ(entry.time.year, c.year < 0 ? now.year : c.year);
        EXPECT_EQ(entry.time.month, c.month < 0 ? now.month : c.month);
        EXPECT_EQ(entry.time.day, c.day < 0 ? now.day : c.day);
        EXPECT_EQ(entry.time.hour, c.hour < 0 ? now.hour : c.hour);
        EXPECT_EQ(entry.time.minute, c.minute < 0 ? now.minute : c.minute);
        EXPECT_EQ(entry.time.second, now.second);
    }
}

TEST(ListingLineTest, OutOfRangeDatesAndTimesAreUnknown)
{
    const struct
    {
        const char *name;
        const char *line;
        const char *entryName;
        std::int64_t size;
    } cases[] = {
        {"DosMonth22", "22-15-01  10:30AM                 1234 a.txt", "a.txt", 1234},
        {"DosMonth0", "00-15-01  10:30AM                 1234 a.txt", "a.txt", 1234},
        {"DosMinute99", "01-15-01  10:99AM                 1234 a.txt", "a.txt", 1234},
        {"DosHour13Pm", "01-15-01  13:30PM                 1234 a.txt", "a.txt", 1234},
        {"DosHour24", "01-15-2001  24:00       <DIR>          dir", "dir", 0},
        {"DosFebruary30", "02-30-24  10:30AM                 1234 a.txt", "a.txt", 1234},
        {"DosDay0", "01-00-01  10:30AM                 1234 a.txt", "a.txt", 1234},
        {"DosNoYear", "01-15  10:30AM                      1234 a.txt", "a.txt", 1234},
        {"DosHugeHourDoesNotWrap", "01-15-01  4294967298:30               1234 a.txt", "a.txt", 1234},
        {"DosYear5Digits", "01-15-20001  10:30AM               1234 a.txt", "a.txt", 1234},
        {"UnixDay32", "-rw-r--r--    1 ftp      ftp          10 Jan 32  2024 x", "x", 10},
        {"UnixHour25", "-rw-r--r--    1 ftp      ftp          10 Jan  3 25:00 x", "x", 10},
        {"UnixMinute60", "-rw-r--r--    1 ftp      ftp          10 Jan  3 12:60 x", "x", 10},
        {"UnixFebruary30", "-rw-r--r--    1 ftp      ftp          10 Feb 30  2024 x", "x", 10},
    };

    const EntryTime now = EntryTime::fromUtc(kNow);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ListingEntry entry = parseListingLine(c.line, now);
        EXPECT_EQ(entry.name, c.entryName);
        EXPECT_EQ(entry.sizeBytes, c.size);
        EXPECT_EQ(entry.time, EntryTime{});
    }
    // The last day of a month and a leap day stay.
    EXPECT_EQ(parseListingLine("02-29-24  11:59PM                 1 leap", now).time.day, 29);
    EXPECT_EQ(parseListingLine("-rw-r--r--    1 ftp      ftp    1 Dec 31  2023 x", now).time.month, 12);
}

TEST(ListingLineTest, DayOfWeekFollowsTheDate)
{
    const EntryTime now = EntryTime::fromUtc(kNow);
    EXPECT_EQ(now.dayOfWeek, 1); // Monday
    const auto entry = parseListingLine("drwxr-xr-x    2 ftp      ftp          4096 Jan  5  2001 pub", now);
    EXPECT_EQ(entry.time.dayOfWeek, 5); // 5 January 2001 was a Friday
}

TEST(ListingLineTest, MonthNames)
{
    EXPECT_EQ(monthFromName("Jan"), 1);
    EXPECT_EQ(monthFromName("dec"), 12);
    EXPECT_EQ(monthFromName("Sept"), 9);
    EXPECT_EQ(monthFromName("Ja"), 0);
    EXPECT_EQ(monthFromName("Xyz"), 0);
}

struct Collected
{
    std::string name;
    bool isDirectory;
    std::int64_t size;
};

std::vector<Collected> walk(ListingParser &parser, const std::string &pattern = "*")
{
    std::vector<Collected> out;
    while (parser.parseNextEntry(pattern))
        out.push_back({parser.entryName(), parser.entryIsDirectory(), parser.entrySize()});
    return out;
}

const char *const kUnixListing =
    "total 12\r\n"
    "drwxr-xr-x    2 ftp      ftp          4096 Jan  5 12:30 pub\r\n"
    "lrwxrwxrwx    1 ftp      ftp            15 Mar 10  2020 docs -> /usr/share/docs\r\n"
    "-rw-r--r--    1 ftp      ftp          1234 Feb 28  2019 read me.txt\r\n";

TEST(ListingParserTest, WalksAUnixListingSkippingTheTotalLine)
{
    ListingParser parser;
    parser.setNowForTesting(kNow);
    parser.setListing(kUnixListing, true);
    const auto entries = walk(parser);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "pub");
    EXPECT_TRUE(entries[0].isDirectory);
    EXPECT_EQ(entries[1].name, "docs");
    EXPECT_TRUE(entries[1].isDirectory);
    EXPECT_EQ(entries[2].name, "read me.txt");
    EXPECT_FALSE(entries[2].isDirectory);
    EXPECT_EQ(entries[2].size, 1234);
    EXPECT_FALSE(parser.hasText());
}

TEST(ListingParserTest, WalksADosListingWithBareLineFeeds)
{
    ListingParser parser;
    parser.setListing("01-15-01  10:30PM       <DIR>          My Files\n"
                      "01-15-01  10:30AM                 1234 setup.exe\n",
        true);
    const auto entries = walk(parser);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "My Files");
    EXPECT_TRUE(entries[0].isDirectory);
    EXPECT_EQ(entries[1].name, "setup.exe");
    EXPECT_EQ(entries[1].size, 1234);
}

TEST(ListingParserTest, FindsOneNamedEntryCaseSensitively)
{
    ListingParser parser;
    parser.setListing(kUnixListing, true);
    ASSERT_TRUE(parser.parseNextEntry("read me.txt"));
    EXPECT_EQ(parser.entrySize(), 1234);

    parser.setListing(kUnixListing, true);
    EXPECT_FALSE(parser.parseNextEntry("PUB"));
    EXPECT_FALSE(parser.hasText()); // the whole text was consumed
}

TEST(ListingParserTest, PatternThatMatchesNothingConsumesEverything)
{
    ListingParser parser;
    parser.setListing(kUnixListing, true);
    EXPECT_FALSE(parser.parseNextEntry("missing.zip"));
    EXPECT_EQ(parser.listingText(), "");
    EXPECT_FALSE(parser.parseNextEntry("*"));
}

TEST(ListingParserTest, TotalLineAloneIsAnEntryDatedNow)
{
    ListingParser parser;
    parser.setNowForTesting(kNow);
    parser.setListing("total 0\r\n", true);
    ASSERT_TRUE(parser.parseNextEntry("*"));
    EXPECT_EQ(parser.entryName(), "0");
    EXPECT_EQ(parser.entryTime(), EntryTime::fromUtc(kNow));
    EXPECT_FALSE(parser.parseNextEntry("*"));
}

TEST(ListingParserTest, NameOnlyListingKeepsOtherFields)
{
    ListingParser parser;
    parser.setListing("-rw-r--r--    1 ftp      ftp   5368709120 Jun  1  2024 big.iso\r\n", true);
    ASSERT_TRUE(parser.parseNextEntry("*"));
    EXPECT_EQ(parser.entrySize(), 1073741824 + (std::int64_t{1} << 32));
    const EntryTime before = parser.entryTime();

    parser.setListing("a\r\nb c\r\n\r\nx", false);
    const auto entries = walk(parser);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "a");
    EXPECT_EQ(entries[1].name, "b c");
    EXPECT_EQ(entries[2].name, "x");
    EXPECT_EQ(entries[2].size, 5368709120LL);
    EXPECT_FALSE(entries[2].isDirectory);
    EXPECT_EQ(parser.entryTime(), before);
}

TEST(ListingParserTest, LeadingBlankLineDoesNotEndTheWalk)
{
    ListingParser parser;
    parser.setListing("\r\nfirst\r\nsecond\r\n", false);
    const auto entries = walk(parser);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "first");
    EXPECT_EQ(entries[1].name, "second");
}

TEST(ListingParserTest, EmptyListingHasNoEntries)
{
    ListingParser parser;
    parser.setListing("", true);
    EXPECT_FALSE(parser.parseNextEntry("*"));
    parser.setListing("\r\n", false);
    EXPECT_FALSE(parser.parseNextEntry("*"));
}

TEST(ListingParserTest, LoadsTheListingFromAFile)
{
    test::TempDir dir;
    test::writeFile(dir / "listing", kUnixListing);
    ListingParser parser;
    ASSERT_TRUE(parser.loadFile(dir / "listing", true));
    EXPECT_EQ(walk(parser).size(), 3u);
    EXPECT_FALSE(parser.loadFile(dir / "absent", true));
    EXPECT_FALSE(parser.parseNextEntry("*"));
}

} // namespace
} // namespace bw::net
