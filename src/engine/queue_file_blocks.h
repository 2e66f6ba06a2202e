// SPDX-License-Identifier: MIT
// The optional blocks a queue file may hold after its last record: each an int32 tag, an int32 payload
// length and the payload, in the records' little-endian encoding. A reader skips a block whose tag it
// does not know; a block cut short is damage of that block alone. A queue with nothing for a block
// writes none, so a file without one stays byte-identical to what older versions wrote. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/checksum.h"

namespace bw::engine {

// "BWCK" and "BWSG" as little-endian bytes.
inline constexpr std::int32_t kChecksumBlockTag = 0x4B435742;
inline constexpr std::int32_t kSegmentBlockTag = 0x47535742;

struct QueueFileBlock
{
    std::int32_t tag = 0;
    std::string payload;
};

struct QueueFileBlocks
{
    std::vector<QueueFileBlock> blocks; // the whole ones, in file order
    std::size_t damagedBytes = 0; // the bytes of a block cut short (or of a stray tail) at the end
};

void appendQueueFileBlock(std::string &out, std::int32_t tag, std::string_view payload);
// The blocks in `bytes` (what follows the records).
QueueFileBlocks readQueueFileBlocks(std::string_view bytes);

// Record index and checksum: int32 count, then per entry int32 index, int32 algorithm, string hex.
using RecordChecksums = std::vector<std::pair<std::int32_t, core::Checksum>>;
std::string encodeChecksumBlock(const RecordChecksums &checksums);
// The entries that read whole and name a known algorithm with a valid value; the rest are dropped.
RecordChecksums decodeChecksumBlock(std::string_view payload);

} // namespace bw::engine
