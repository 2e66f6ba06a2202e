// SPDX-License-Identifier: MIT
#include "engine/queue_file_blocks.h"

#include <optional>

namespace bw::engine {

namespace {

void putInt32(std::string &out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((bits >> shift) & 0xFF);
}

// Takes a little-endian int32 off the front of `bytes`.
std::optional<std::int32_t> takeInt32(std::string_view &bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]))
            << (8 * i);
    bytes.remove_prefix(4);
    return static_cast<std::int32_t>(bits);
}

// Takes `length` bytes off the front of `bytes`; nothing when fewer remain or the length is negative.
std::optional<std::string_view> takeBytes(std::string_view &bytes, std::int32_t length)
{
    if (length < 0 || static_cast<std::size_t>(length) > bytes.size())
        return std::nullopt;
    const std::string_view taken = bytes.substr(0, static_cast<std::size_t>(length));
    bytes.remove_prefix(static_cast<std::size_t>(length));
    return taken;
}

} // namespace

void appendQueueFileBlock(std::string &out, std::int32_t tag, std::string_view payload)
{
    putInt32(out, tag);
    putInt32(out, static_cast<std::int32_t>(payload.size()));
    out += payload;
}

QueueFileBlocks readQueueFileBlocks(std::string_view bytes)
{
    QueueFileBlocks found;
    while (!bytes.empty()) {
        std::string_view rest = bytes;
        const std::optional<std::int32_t> tag = takeInt32(rest);
        const std::optional<std::int32_t> length = tag ? takeInt32(rest) : std::nullopt;
        const std::optional<std::string_view> payload = length ? takeBytes(rest, *length) : std::nullopt;
        if (!payload) {
            found.damagedBytes = bytes.size();
            break;
        }
        found.blocks.push_back({*tag, std::string(*payload)});
        bytes = rest;
    }
    return found;
}

std::string encodeChecksumBlock(const RecordChecksums &checksums)
{
    std::string out;
    putInt32(out, static_cast<std::int32_t>(checksums.size()));
    for (const auto &[index, checksum] : checksums) {
        putInt32(out, index);
        putInt32(out, static_cast<std::int32_t>(checksum.algorithm));
        putInt32(out, static_cast<std::int32_t>(checksum.hex.size()));
        out += checksum.hex;
    }
    return out;
}

RecordChecksums decodeChecksumBlock(std::string_view payload)
{
    RecordChecksums checksums;
    const std::optional<std::int32_t> count = takeInt32(payload);
    for (std::int32_t i = 0; count && i < *count; ++i) {
        const std::optional<std::int32_t> index = takeInt32(payload);
        const std::optional<std::int32_t> algorithm = index ? takeInt32(payload) : std::nullopt;
        const std::optional<std::int32_t> hexLength = algorithm ? takeInt32(payload) : std::nullopt;
        const std::optional<std::string_view> hex = hexLength ? takeBytes(payload, *hexLength) : std::nullopt;
        if (!hex)
            break;
        const std::optional<core::ChecksumAlgorithm> known = core::checksumAlgorithmFromIndex(*algorithm);
        std::optional<core::Checksum> checksum = known ? core::makeChecksum(*known, *hex) : std::nullopt;
        if (checksum && *index >= 0)
            checksums.emplace_back(*index, std::move(*checksum));
    }
    return checksums;
}

} // namespace bw::engine
