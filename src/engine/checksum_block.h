// SPDX-License-Identifier: MIT
// The queue file's checksum block: the checksums users gave, by record index. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/checksum.h"

namespace bw::engine {

// Record index and checksum: int32 count, then per entry int32 index, int32 algorithm, string hex.
using RecordChecksums = std::vector<std::pair<std::int32_t, core::Checksum>>;
std::string encodeChecksumBlock(const RecordChecksums &checksums);
// The entries that read whole and name a known algorithm with a valid value; the rest are dropped.
RecordChecksums decodeChecksumBlock(std::string_view payload);

} // namespace bw::engine
