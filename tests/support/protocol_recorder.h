// SPDX-License-Identifier: MIT
// An observer for a protocol connection (connection.setObserver(&ProtocolRecorder::observe, &recorder))
// that keeps what the connection told it: every notification, the commands it sent, its own status
// lines and its last reply line. Notifications arrive on the thread that runs the operation: read the
// recorder once the operation has returned.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "net/connection_notification.h"

namespace bw::test {

struct ProtocolRecorder
{
    std::vector<net::ConnectionNotification> seen;
    std::vector<std::string> commands;
    std::vector<std::string> status;
    std::string lastReply;

    static void observe(void *context, const net::ConnectionNotification &notification)
    {
        auto *recorder = static_cast<ProtocolRecorder *>(context);
        recorder->seen.push_back(notification);
        if (notification.kind == net::NotifyCommandSent)
            recorder->commands.push_back(notification.text);
        else if (notification.kind == net::NotifyReplyReceived)
            recorder->lastReply = notification.text;
        else if (notification.kind == net::NotifyStatus)
            recorder->status.push_back(notification.text);
    }

    bool sent(const std::string &command) const
    {
        return std::find(commands.begin(), commands.end(), command) != commands.end();
    }

    bool sentStartingWith(const std::string &prefix) const
    {
        return std::any_of(
            commands.begin(), commands.end(), [&](const std::string &c) { return c.starts_with(prefix); });
    }

    int count(int kind) const
    {
        return static_cast<int>(
            std::count_if(seen.begin(), seen.end(), [&](const auto &n) { return n.kind == kind; }));
    }
};

} // namespace bw::test
