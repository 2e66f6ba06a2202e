// SPDX-License-Identifier: MIT
#include "engine/queue_file_blocks.h"

namespace bw::engine {

void appendInt32(std::string &out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

void appendInt64(std::string &out, std::int64_t value)
{
    const auto bits = static_cast<std::uint64_t>(value);
    appendInt32(out, static_cast<std::int32_t>(static_cast<std::uint32_t>(bits & 0xFFFFFFFFu)));
    appendInt32(out, static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32)));
}

void appendString(std::string &out, std::string_view text)
{
    appendInt32(out, static_cast<std::int32_t>(text.size()));
    out += text;
}

void appendBlock(std::string &out, std::int32_t tag, std::string_view payload)
{
    appendInt32(out, tag);
    appendString(out, payload);
}

bool BlockReader::readInt32(std::int32_t &value)
{
    if (m_bytes.size() < 4) {
        m_bytes = {};
        return false;
    }
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(m_bytes[i])) << (8 * i);
    m_bytes.remove_prefix(4);
    value = static_cast<std::int32_t>(bits);
    return true;
}

bool BlockReader::readInt64(std::int64_t &value)
{
    std::int32_t low = 0;
    std::int32_t high = 0;
    if (!readInt32(low) || !readInt32(high))
        return false;
    value = static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32)
        | static_cast<std::uint32_t>(low));
    return true;
}

bool BlockReader::readString(std::string &text)
{
    std::int32_t length = 0;
    if (!readInt32(length))
        return false;
    if (length < 0 || static_cast<std::size_t>(length) > m_bytes.size()) {
        m_bytes = {};
        return false;
    }
    text.assign(m_bytes.substr(0, static_cast<std::size_t>(length)));
    m_bytes.remove_prefix(static_cast<std::size_t>(length));
    return true;
}

QueueFileBlocks readBlocks(std::string_view bytes)
{
    QueueFileBlocks result;
    BlockReader reader(bytes);
    while (!reader.atEnd()) {
        QueueFileBlock block;
        const std::size_t left = reader.remaining();
        if (!reader.readInt32(block.tag) || !reader.readString(block.payload)) {
            result.damaged = true;
            result.damagedBytes = left;
            break;
        }
        result.blocks.push_back(std::move(block));
    }
    return result;
}

} // namespace bw::engine
