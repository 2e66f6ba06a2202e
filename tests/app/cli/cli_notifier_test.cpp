// SPDX-License-Identifier: MIT
// What bellwick-cli learns from the queue's events: an item refused for its server's host key ends the
// run, any other failure does not.
#include <gtest/gtest.h>

#include "app/cli/cli_notifier.h"
#include "core/queue_events.h"
#include "core/queue_list.h"
#include "engine/connection_lease.h"

namespace bw::cli {
namespace {

TEST(CliNotifierTest, AnUnknownOrChangedHostKeyEndsTheRun)
{
    const struct
    {
        const char *name;
        core::ItemStatus status;
        std::string detail;
        bool refused;
    } cases[] = {
        {"unknown key", core::ItemStatus::StatusError, "Host key unknown: SHA256:AbC (ssh-ed25519)", true},
        {"changed key", core::ItemStatus::StatusError, "Host key changed: SHA256:New, known SHA256:Old",
            true},
        {"another failure", core::ItemStatus::StatusError, "Login incorrect", false},
        {"still connecting", core::ItemStatus::StatusConnecting, "Host key unknown: SHA256:AbC", false},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        core::QueueList queue;
        core::QueueEvents events(queue);
        engine::LeaseBoard leases;
        SavedFiles saved;
        CliNotifier notifier(queue, events, leases, saved, false, false, true);
        queue.setNotifier(&events);
        const std::int32_t id = queue.addItem("sftp://u@h/~/a", "/nonexistent/a");
        queue.setStatusDetail(id, c.detail);
        queue.setStatus(id, c.status);
        queue.notifyQueueChanged(false, id);
        notifier.drain();
        EXPECT_EQ(notifier.hostKeyRefused(), c.refused);
        queue.setNotifier(nullptr);
    }
}

} // namespace
} // namespace bw::cli
