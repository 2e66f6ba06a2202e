// SPDX-License-Identifier: MIT
// The block sizes and pacing the file jobs of SocketConnection share. Internal to src/net.
#pragma once

#include <algorithm>
#include <cstdint>

namespace bw::net::jobs {

// Data moves in large blocks straight between socket and file; the clock and the speed rule are
// consulted only every few blocks unless a speed limit asks for one look per block.
inline constexpr std::int64_t kBlockBytes = 512 * 1024;
inline constexpr int kBlocksPerCheck = 16;
// A body known to be this small is read in one small block, without a splice pipe.
inline constexpr std::int64_t kSmallFileBytes = 64 * 1024;
// How long a stalled job waits for the stream before it looks at the stop request again.
inline constexpr int kStallWaitMs = 50;

struct FileJobShape
{
    std::int64_t blockBytes = kBlockBytes;
    int blocksPerCheck = kBlocksPerCheck;
};

inline FileJobShape shapeFor(int maxSpeed)
{
    FileJobShape shape;
    if (maxSpeed > 0) {
        // One second's worth of the limit at most, and a look at the speed after every block.
        shape.blockBytes = std::clamp<std::int64_t>(std::int64_t{maxSpeed} * 1024, 1, kBlockBytes);
        shape.blocksPerCheck = 1;
    }
    return shape;
}

} // namespace bw::net::jobs
