// SPDX-License-Identifier: MIT
#include <map>

#include <gtest/gtest.h>

#include "app/cli/cli_options.h"

namespace bw::cli {
namespace {

// --checksum belongs to the URL that follows it, and to no other.
TEST(CliOptions, AChecksumGoesWithTheUrlAfterIt)
{
    const std::string sha1 = "sha1=" + std::string(40, 'c');

    const struct
    {
        std::vector<std::string> args;
        std::map<std::size_t, std::string> checksums; // url index -> user form
        bool error;
    } cases[] = {
        {{"ftp://h/a", "--checksum", sha1, "ftp://h/b", "ftp://h/c"}, {{1, sha1}}, false},
        {{"--checksum", sha1, "--", "ftp://h/a"}, {{0, sha1}}, false},
        {{"ftp://h/a", "--checksum", sha1}, {}, true}, // no URL after it
        {{"--checksum", "sha256=12", "ftp://h/a"}, {}, true},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const ParsedCommandLine parsed = parseCommandLine(c.args);
        EXPECT_EQ(!parsed.error.empty(), c.error) << parsed.error;
        std::map<std::size_t, std::string> checksums;
        for (const auto &[index, checksum] : parsed.options.checksums)
            checksums[index] = core::userChecksumText(checksum);
        if (!c.error) {
            EXPECT_EQ(checksums, c.checksums);
        }
    }
}

} // namespace
} // namespace bw::cli
