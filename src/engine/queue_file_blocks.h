// SPDX-License-Identifier: MIT
// The optional blocks that follow the last record of a queue file: each an int32 tag, an int32 payload
// length and the payload, in the records' little-endian encoding. A reader skips the tags it does not
// know, so older versions load newer files; a block cut short damages only itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bw::engine {

inline constexpr std::int32_t kChecksumBlockTag = 0x4B435742; // "BWCK"
inline constexpr std::int32_t kSegmentBlockTag = 0x47535742; // "BWSG"

void appendInt32(std::string &out, std::int32_t value);
// Low half first, as two int32.
void appendInt64(std::string &out, std::int64_t value);
void appendString(std::string &out, std::string_view text);
void appendBlock(std::string &out, std::int32_t tag, std::string_view payload);

// Reads the encoding back; every read checks what remains first, so a damaged length never reads past
// the end. A failed read leaves the reader failed.
class BlockReader
{
public:
    explicit BlockReader(std::string_view bytes)
        : m_bytes(bytes)
    {}

    bool readInt32(std::int32_t &value);
    bool readInt64(std::int64_t &value);
    bool readString(std::string &text);

    bool atEnd() const { return m_bytes.empty(); }

    std::size_t remaining() const { return m_bytes.size(); }

private:
    std::string_view m_bytes;
};

struct QueueFileBlock
{
    std::int32_t tag = 0;
    std::string payload;
};

struct QueueFileBlocks
{
    std::vector<QueueFileBlock> blocks;
    bool damaged = false; // the last block ends before its length says
    std::size_t damagedBytes = 0; // the bytes of that block, to the end
};

// The blocks in the bytes after the last record.
QueueFileBlocks readBlocks(std::string_view bytes);

} // namespace bw::engine
