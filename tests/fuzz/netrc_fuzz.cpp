// SPDX-License-Identifier: MIT
// .netrc files: any text reads without harm, a default entry names no machine, and every machine
// entry is found again by its own name (and login, when it has one).
#include "engine/netrc.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw::engine;
    const std::vector<NetrcEntry> entries = parseNetrc(bw::fuzz::bytesOf(data, size));
    for (const NetrcEntry &entry : entries) {
        BW_FUZZ_CHECK(!entry.isDefault || entry.machine.empty());
        if (entry.isDefault)
            continue;
        const NetrcEntry *found = findNetrcEntry(entries, entry.machine, entry.login, false);
        BW_FUZZ_CHECK(found && !found->isDefault && (entry.login.empty() || found->login == entry.login));
    }
    return 0;
}
