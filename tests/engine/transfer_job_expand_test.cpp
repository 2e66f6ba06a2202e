// SPDX-License-Identifier: MIT
// The local names a remote folder's entries get: the case the user chose, and never one file for two
// entries.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/transfer_job.h"

namespace bw::engine {
namespace {

using Names = std::vector<std::string>;

TEST(ConvertedLocalNames, TakeTheChosenCaseWithoutTwoEntriesSharingAFile)
{
    struct Case
    {
        const char *what;
        FileNameConversion conversion;
        Names names;
        Names expected; // "" : skipped
    };

    const Case cases[] = {
        {"none keeps every name", FileNameConversion::None, {"Read.Me", "a.txt", "A.txt"},
            {"Read.Me", "a.txt", "A.txt"}},
        {"lowercase", FileNameConversion::Lowercase, {"Read.Me", "Sub", "x.bin"},
            {"read.me", "sub", "x.bin"}},
        {"uppercase", FileNameConversion::Uppercase, {"Read.Me", "sub", "ÄÖü.txt"},
            {"READ.ME", "SUB", "ÄÖü.TXT"}},
        // The entry already in the chosen case keeps its name, whichever the listing shows first.
        {"a twin keeps the server's name", FileNameConversion::Lowercase, {"Twin.txt", "twin.txt"},
            {"Twin.txt", "twin.txt"}},
        {"in either order", FileNameConversion::Lowercase, {"twin.txt", "Twin.txt"},
            {"twin.txt", "Twin.txt"}},
        {"two converted twins", FileNameConversion::Uppercase, {"ab", "aB"}, {"AB", "aB"}},
        {"three twins", FileNameConversion::Lowercase, {"AB", "ab", "Ab"}, {"AB", "ab", "Ab"}},
        // A name listed twice has neither its converted nor its own name left the second time.
        {"a name listed twice", FileNameConversion::Lowercase, {"Ab", "ab", "AB", "Ab"},
            {"Ab", "ab", "AB", ""}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(convertedLocalNames(c.names, c.conversion), c.expected) << c.what;
}

} // namespace
} // namespace bw::engine
