// SPDX-License-Identifier: MIT
// The site file: whatever it holds, the entries read from it are written back in the current layout,
// and that file reads back whole as the same entries and the same bytes.
#include "browse/site_list.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw::browse;
    const SiteOptions olderFileOptions{11, 22, 33, 1};
    SiteList list;
    list.parse(bw::fuzz::bytesOf(data, size), olderFileOptions);
    const std::string saved = list.serialize();

    SiteList again;
    BW_FUZZ_CHECK(again.parse(saved, olderFileOptions));
    BW_FUZZ_CHECK(again.entries() == list.entries());
    BW_FUZZ_CHECK(again.serialize() == saved);
    return 0;
}
