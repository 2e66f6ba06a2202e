// SPDX-License-Identifier: MIT
#include "engine/segment_plan.h"

#include <algorithm>

namespace bw::engine {

std::vector<ByteRange> planSegments(std::vector<ByteRange> left, int connections, std::int64_t minBytes)
{
    std::erase_if(left, [](const ByteRange &range) { return range.size() == 0; });
    while (static_cast<int>(left.size()) < connections) {
        const std::optional<std::size_t> largest = largestRange(left);
        if (!largest)
            break;
        const std::optional<ByteRange> half = splitRunning(left[*largest], minBytes);
        if (!half)
            break;
        left.push_back(*half);
    }
    std::sort(
        left.begin(), left.end(), [](const ByteRange &a, const ByteRange &b) { return a.first < b.first; });
    return left;
}

std::optional<ByteRange> splitRunning(ByteRange &running, std::int64_t minBytes)
{
    if (running.size() < 2 * std::max<std::int64_t>(minBytes, 1))
        return std::nullopt;
    const std::int64_t middle = running.first + running.size() / 2;
    const ByteRange second{middle, running.end};
    running.end = middle;
    return second;
}

std::optional<std::size_t> largestRange(const std::vector<ByteRange> &ranges)
{
    if (ranges.empty())
        return std::nullopt;
    const auto largest = std::max_element(ranges.begin(), ranges.end(),
        [](const ByteRange &a, const ByteRange &b) { return a.size() < b.size(); });
    return static_cast<std::size_t>(largest - ranges.begin());
}

std::int64_t bytesLeft(const std::vector<ByteRange> &ranges)
{
    std::int64_t sum = 0;
    for (const ByteRange &range : ranges)
        sum += range.size();
    return sum;
}

} // namespace bw::engine
