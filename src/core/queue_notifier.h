// SPDX-License-Identifier: MIT
// The channel from the queue list to the window: synchronous notifications carrying the message numbers
// the window was registered with. The sender blocks until the receiver has handled the call; the text
// is valid only during the call. Called on worker threads and on the window's thread.
#pragma once

#include <cstdint>
#include <string>

namespace bw::core {

// The message numbers the main window registers (first user message 0x400 plus the offset).
constexpr unsigned kWmUser = 0x400;
constexpr unsigned kWmLogSent = kWmUser + 16; // 0x410: wParam thread id, text the line
constexpr unsigned kWmLogReceived = kWmUser + 17; // 0x411
constexpr unsigned kWmLogStatus = kWmUser + 18; // 0x412
constexpr unsigned kWmQueueChanged =
    kWmUser + 19; // 0x413: wParam 1 when the queue must be saved, lParam item id

class QueueNotifier
{
public:
    virtual ~QueueNotifier() = default;
    // `message` is one of the four registered numbers. For the log messages `wParam` is the sending
    // thread's id and `text` the line; for the queue change `wParam` is the save flag and `itemId` the item.
    virtual void notify(
        unsigned message, std::uint64_t wParam, std::int64_t itemId, const std::string &text) = 0;
};

} // namespace bw::core
