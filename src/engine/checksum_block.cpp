// SPDX-License-Identifier: MIT
#include "engine/checksum_block.h"

#include <optional>

#include "engine/queue_file_blocks.h"

namespace bw::engine {

std::string encodeChecksumBlock(const RecordChecksums &checksums)
{
    std::string out;
    appendInt32(out, static_cast<std::int32_t>(checksums.size()));
    for (const auto &[index, checksum] : checksums) {
        appendInt32(out, index);
        appendInt32(out, static_cast<std::int32_t>(checksum.algorithm));
        appendString(out, checksum.hex);
    }
    return out;
}

RecordChecksums decodeChecksumBlock(std::string_view payload)
{
    RecordChecksums checksums;
    BlockReader reader(payload);
    std::int32_t count = 0;
    if (!reader.readInt32(count))
        return checksums;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t index = 0;
        std::int32_t algorithm = 0;
        std::string hex;
        if (!reader.readInt32(index) || !reader.readInt32(algorithm) || !reader.readString(hex))
            break;
        const std::optional<core::ChecksumAlgorithm> known = core::checksumAlgorithmFromIndex(algorithm);
        std::optional<core::Checksum> checksum = known ? core::makeChecksum(*known, hex) : std::nullopt;
        if (checksum && index >= 0)
            checksums.emplace_back(index, std::move(*checksum));
    }
    return checksums;
}

} // namespace bw::engine
