// SPDX-License-Identifier: MIT
// What a download fetched in segments still misses, kept with its queue item (and saved in the queue
// file's segment block), so that a restart fetches exactly those ranges of the same version of the file.
// Pure encoding; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/segment_plan.h"

namespace bw::engine {

struct SegmentState
{
    std::string validator; // the server's name for the version of the file (ETag or Last-Modified)
    std::int64_t totalBytes = 0;
    std::vector<ByteRange> missing; // in file order, none overlapping

    bool operator==(const SegmentState &) const = default;
};

std::string encodeSegmentState(const SegmentState &state);
// Nothing when the bytes are damaged or describe ranges outside the file, out of order or overlapping:
// such a state cannot say which bytes of the part file are good.
std::optional<SegmentState> decodeSegmentState(std::string_view bytes);

// How long the part file must be at least for the state to describe it: every byte before the last
// missing range that runs to the end was written. A shorter file (one deleted and made anew) would hand
// zeros for written bytes.
std::int64_t writtenExtent(const SegmentState &state);

// The payload of the queue file's segment block: each item's state by the item's index in the records.
std::string encodeSegmentBlock(const std::vector<std::pair<std::size_t, std::string>> &states);
// The states of the block's items whose index is below `itemCount`; nothing for a damaged block.
std::optional<std::vector<std::pair<std::size_t, std::string>>> decodeSegmentBlock(
    std::string_view payload, std::size_t itemCount);

} // namespace bw::engine
