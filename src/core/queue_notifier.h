// SPDX-License-Identifier: MIT
// The channel from the queue list to its receiver: calls carrying the message numbers the receiver was
// registered with, made on worker threads and on the window's thread. The text is valid only during the
// call. The window and bellwick-cli register QueueEvents, which posts and returns at once.
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

    // A transfer of item `itemId` moved on. A receiver without a progress event of its own takes it as
    // an unsaved change of the item.
    virtual void notifyProgress(unsigned queueChangedMessage, std::int64_t itemId)
    {
        notify(queueChangedMessage, 0, itemId, std::string());
    }
};

} // namespace bw::core
