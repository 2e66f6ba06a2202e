// SPDX-License-Identifier: MIT
// Machine listings and the times MDTM and HTTP servers send, line by line.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/http_date.h"
#include "net/mlsd_parser.h"

namespace bw::net {
namespace {

constexpr std::int64_t k2024Jan31Noon = 1706702400; // 2024-01-31 12:00:00 UTC

TEST(MlsdLineTest, ReadsTypesSizesTimesAndOddFacts)
{
    struct Case
    {
        const char *line;
        std::optional<ListingEntry> entry; // name, directory, link, size; the time is checked apart
    };

    const auto entry = [](const char *name, bool directory, bool link, std::int64_t size, bool typed = true) {
        ListingEntry e;
        e.name = name;
        e.isDirectory = directory;
        e.isLink = link;
        e.sizeBytes = size;
        e.typeKnown = typed;
        return std::optional(e);
    };
    const Case cases[] = {
        {"type=file;size=1234;modify=20240131120000; a b;c.txt", entry("a b;c.txt", false, false, 1234)},
        {"Type=DIR;Sizd=4096;Modify=20240131120000.123; sub", entry("sub", true, false, 4096)},
        {"type=OS.unix=symlink;size=7; link", entry("link", true, true, 7)},
        {"type=OS.unix=slink:/etc;unique=801U1; etc", entry("etc", true, true, 0)},
        {"size=12;perm=r; untyped", entry("untyped", false, false, 12, false)},
        {"type=file;size=-5;modify=2024; bad facts", entry("bad facts", false, false, 0)},
        {"type=file;x;=;size=99999999999; big", entry("big", false, false, 99999999999)},
        {"type=cdir;modify=20240131120000; /pub", std::nullopt},
        {"type=pdir; ..", std::nullopt},
        {"type=file; ../escape", std::nullopt},
        {"type=file;size=1;", std::nullopt},
        {"type=file; ", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        const std::optional<ListingEntry> got = parseMlsdLine(c.line);
        ASSERT_EQ(got.has_value(), c.entry.has_value()) << c.line;
        if (!got)
            continue;
        EXPECT_EQ(got->name, c.entry->name) << c.line;
        EXPECT_EQ(got->isDirectory, c.entry->isDirectory) << c.line;
        EXPECT_EQ(got->isLink, c.entry->isLink) << c.line;
        EXPECT_EQ(got->sizeBytes, c.entry->sizeBytes) << c.line;
        EXPECT_EQ(got->typeKnown, c.entry->typeKnown) << c.line;
    }
    EXPECT_EQ(parseMlsdLine(cases[1].line)->time, EntryTime::fromUtc(k2024Jan31Noon));
    EXPECT_EQ(parseMlsdLine(cases[5].line)->time, EntryTime{});
}

TEST(ServerTimeTest, ReadsFtpAndHttpTimesAndRefusesImpossibleOnes)
{
    struct Case
    {
        const char *text;
        std::optional<std::int64_t> ftp;
        std::optional<std::int64_t> http;
    };

    const Case cases[] = {
        {"20240131120000", k2024Jan31Noon, std::nullopt},
        {"20240131120000.5", k2024Jan31Noon, std::nullopt},
        {"20240229000000", 1709164800, std::nullopt},
        {"20230229000000", std::nullopt, std::nullopt},
        {"20241301000000", std::nullopt, std::nullopt},
        {"2024013112000", std::nullopt, std::nullopt},
        {"20240131120000.", std::nullopt, std::nullopt},
        {"Wed, 31 Jan 2024 12:00:00 GMT", std::nullopt, k2024Jan31Noon},
        {"Wednesday, 31-Jan-24 12:00:00 GMT", std::nullopt, k2024Jan31Noon},
        {"Wed Jan 31 12:00:00 2024", std::nullopt, k2024Jan31Noon},
        {"Wed, 31 Feb 2024 12:00:00 GMT", std::nullopt, std::nullopt},
        {"Wed, 31 Jan 2024 25:00:00 GMT", std::nullopt, std::nullopt},
        {"Wed, 31 Jan 2024 12:00:00 CET", std::nullopt, std::nullopt},
        {"Wed, 31 Foo 2024 12:00:00 GMT", std::nullopt, std::nullopt},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(parseFtpTimeValue(c.text), c.ftp) << c.text;
        EXPECT_EQ(parseHttpDate(c.text), c.http) << c.text;
    }
}

} // namespace
} // namespace bw::net
