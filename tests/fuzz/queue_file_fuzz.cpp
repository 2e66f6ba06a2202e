// SPDX-License-Identifier: MIT
// The saved queue: whatever a file holds, loading it, saving, loading the save and saving again gives
// the same bytes twice, and the second load finds the save whole.
#include <algorithm>

#include "core/queue_list.h"
#include "engine/queue_file.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw;
    const std::string_view bytes = fuzz::bytesOf(data, size);

    core::QueueList first;
    const engine::QueueFileLoadResult loaded = engine::decodeQueue(bytes, first);
    BW_FUZZ_CHECK(loaded.opened);
    BW_FUZZ_CHECK(loaded.loadedCount >= 0 && loaded.loadedCount <= std::max(loaded.declaredCount, 0));
    BW_FUZZ_CHECK(loaded.damaged == !loaded.problem.empty());
    BW_FUZZ_CHECK(first.count() == static_cast<std::size_t>(loaded.loadedCount));
    const std::string saved = engine::encodeQueue(first);

    core::QueueList second;
    const engine::QueueFileLoadResult reloaded = engine::decodeQueue(saved, second);
    BW_FUZZ_CHECK(reloaded.ok());
    BW_FUZZ_CHECK(reloaded.loadedCount == loaded.loadedCount);
    BW_FUZZ_CHECK(engine::encodeQueue(second) == saved);
    return 0;
}
