// SPDX-License-Identifier: MIT
// Machine listings, FEAT answers and server times: every MLSD line gives an entry with a name on one line
// that no folder walk can escape by, a size of at least 0 and a date in range or unknown; every time read
// is a real moment after 1970.
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "net/ftp_features.h"
#include "net/http_date.h"
#include "net/mlsd_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(bw::fuzz::bytesOf(data, size));
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    for (const std::string &line : lines) {
        if (const auto entry = bw::net::parseMlsdLine(line)) {
            BW_FUZZ_CHECK(!entry->name.empty() && entry->name != "." && entry->name != "..");
            BW_FUZZ_CHECK(entry->name.find_first_of("/\n") == std::string::npos);
            BW_FUZZ_CHECK(entry->sizeBytes >= 0);
            BW_FUZZ_CHECK(!entry->isLink || entry->isDirectory);
            BW_FUZZ_CHECK(entry->time.month <= 12 && entry->time.hour <= 23);
        }
        for (const auto when : {bw::net::parseFtpTimeValue(line), bw::net::parseHttpDate(line)})
            BW_FUZZ_CHECK(!when || *when >= 0);
    }
    // Feature names compare without regard to case.
    const bw::net::FtpFeatures features = bw::net::FtpFeatures::parse(lines);
    BW_FUZZ_CHECK(features.has("MLST") == features.has("mlst"));
    return 0;
}
