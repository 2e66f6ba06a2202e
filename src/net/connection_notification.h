// SPDX-License-Identifier: MIT
// What a protocol connection tells its owner while it works: progress ticks and protocol traffic.
// Delivered on the thread that runs the operation.
#pragma once

#include <cstdint>
#include <string>

namespace bw::net {

enum NotificationKind : int
{
    NotifyProgress = 1, // first: bytes done, second: total size
    NotifyCommandSent = 2, // text: the command or request line without its line break
    NotifyReplyReceived = 3, // text: one reply line
    NotifyStatus = 4, // text: what the connection did on its own account
};

struct ConnectionNotification
{
    int kind = 0;
    std::int64_t first = 0;
    std::int64_t second = 0;
    std::string text;
};

// The observer: a plain function and an opaque context passed back to it.
using ConnectionObserver = void (*)(void *context, const ConnectionNotification &notification);

} // namespace bw::net
