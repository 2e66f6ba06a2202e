// SPDX-License-Identifier: MIT
// How a big download is cut into segments that several connections fetch at once, and how a
// connection whose segment ended takes half of the largest segment still running, so that none sits
// idle while one slow segment finishes. Pure functions; the caller guards the ranges it shares.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace bw::engine {

// The bytes [first, end) of a file.
struct ByteRange
{
    std::int64_t first = 0;
    std::int64_t end = 0;

    std::int64_t size() const { return end > first ? end - first : 0; }

    bool operator==(const ByteRange &) const = default;
};

// A file smaller than this is fetched on one connection: more would cost more round trips than they win.
inline constexpr std::int64_t kMinSegmentedFileBytes = 8 * 1024 * 1024;
// No segment is made smaller than this, by the first plan or by splitting one that runs.
inline constexpr std::int64_t kMinSegmentBytes = 1024 * 1024;

// The ranges `connections` segments start with: the ranges still to fetch, the largest split in halves
// while there are fewer than `connections` and a half stays at least `minBytes`. In file order.
std::vector<ByteRange> planSegments(std::vector<ByteRange> left, int connections, std::int64_t minBytes);

// Splits what a running segment has left, [cursor, end), when each half keeps at least `minBytes`: the
// segment keeps the first half (its end lowered) and the second half is returned for another connection.
std::optional<ByteRange> splitRunning(ByteRange &running, std::int64_t minBytes);

// The index of the range with most bytes left, or nothing for an empty list.
std::optional<std::size_t> largestRange(const std::vector<ByteRange> &ranges);

std::int64_t bytesLeft(const std::vector<ByteRange> &ranges);

} // namespace bw::engine
