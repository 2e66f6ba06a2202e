// SPDX-License-Identifier: MIT
#include "engine/segment_state.h"

#include "engine/queue_file_blocks.h"

namespace bw::engine {

namespace {

bool validRanges(const SegmentState &state)
{
    std::int64_t previousEnd = 0;
    for (const ByteRange &range : state.missing) {
        if (range.first < previousEnd || range.end <= range.first || range.end > state.totalBytes)
            return false;
        previousEnd = range.end;
    }
    return state.totalBytes >= 0;
}

} // namespace

std::string encodeSegmentState(const SegmentState &state)
{
    std::string out;
    appendString(out, state.validator);
    appendInt64(out, state.totalBytes);
    appendInt32(out, static_cast<std::int32_t>(state.missing.size()));
    for (const ByteRange &range : state.missing) {
        appendInt64(out, range.first);
        appendInt64(out, range.end);
    }
    return out;
}

std::optional<SegmentState> decodeSegmentState(std::string_view bytes)
{
    BlockReader reader(bytes);
    SegmentState state;
    std::int32_t count = 0;
    if (!reader.readString(state.validator) || !reader.readInt64(state.totalBytes) || !reader.readInt32(count)
        || count < 0 || static_cast<std::size_t>(count) != reader.remaining() / 16 || reader.remaining() % 16)
        return std::nullopt;
    state.missing.resize(static_cast<std::size_t>(count));
    for (ByteRange &range : state.missing) {
        if (!reader.readInt64(range.first) || !reader.readInt64(range.end))
            return std::nullopt;
    }
    if (!validRanges(state))
        return std::nullopt;
    return state;
}

std::int64_t writtenExtent(const SegmentState &state)
{
    if (!state.missing.empty() && state.missing.back().end == state.totalBytes)
        return state.missing.back().first;
    return state.totalBytes;
}

std::string encodeSegmentBlock(const std::vector<std::pair<std::size_t, std::string>> &states)
{
    std::string out;
    appendInt32(out, static_cast<std::int32_t>(states.size()));
    for (const auto &[index, state] : states) {
        appendInt32(out, static_cast<std::int32_t>(index));
        appendString(out, state);
    }
    return out;
}

std::optional<std::vector<std::pair<std::size_t, std::string>>> decodeSegmentBlock(
    std::string_view payload, std::size_t itemCount)
{
    BlockReader reader(payload);
    std::int32_t count = 0;
    if (!reader.readInt32(count) || count < 0)
        return std::nullopt;
    std::vector<std::pair<std::size_t, std::string>> states;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t index = 0;
        std::string state;
        if (!reader.readInt32(index) || !reader.readString(state))
            return std::nullopt;
        if (index >= 0 && static_cast<std::size_t>(index) < itemCount)
            states.emplace_back(static_cast<std::size_t>(index), std::move(state));
    }
    return states;
}

} // namespace bw::engine
