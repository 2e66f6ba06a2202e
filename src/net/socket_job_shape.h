// SPDX-License-Identifier: MIT
// The block sizes and the pace of SocketConnection's transfers. Internal to src/net.
#pragma once

#include <chrono>
#include <cstdint>

#include "net/min_speed_watch.h"
#include "net/rate_limiter.h"
#include "net/socket_connection.h"

namespace bw::net {

namespace jobs {

// Data moves in large blocks straight between socket and file; the clock and the speed rule are
// consulted after every wait and otherwise only every few blocks.
inline constexpr std::int64_t kBlockBytes = 512 * 1024;
inline constexpr int kBlocksPerCheck = 16;
// A body known to be this small is read in one small block, without a splice pipe.
inline constexpr std::int64_t kSmallFileBytes = 64 * 1024;
// How long a stalled transfer waits for the stream before it looks at the clock again (a stop ends
// the wait at once).
inline constexpr int kStallWaitMs = 50;
// Progress goes to the owner at most this often.
inline constexpr std::chrono::milliseconds kProgressInterval{100};

} // namespace jobs

// One running transfer's watch: the rate limiter's ticket, the minimum speed, stalls and progress.
struct SocketConnection::Pace
{
    const TransferWatch &watch;
    RateLimiter::Ticket ticket;
    MinSpeedWatch minimum;
    std::int64_t startMs; // on the injected clock, for the speed
    std::int64_t startBytes;
    std::int64_t heldMs = 0; // time spent waiting for the rate limiter
    std::int64_t stallStartMs = -1; // -1 while bytes move
    std::chrono::steady_clock::time_point lastReport{};
    int blocks = 0;
};

} // namespace bw::net
