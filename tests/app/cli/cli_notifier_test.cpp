// SPDX-License-Identifier: MIT
#include <tuple>

#include <gtest/gtest.h>

#include "app/cli/cli_notifier.h"

namespace bw::cli {
namespace {

TEST(CliNotifierTest, AnUnknownOrChangedHostKeyEndsTheRun)
{
    using core::ItemStatus;
    for (const auto &[status, detail, refused] :
        {std::tuple{ItemStatus::StatusError, "Host key unknown: SHA256:AbC (ssh-ed25519)", true},
            std::tuple{ItemStatus::StatusError, "Host key changed: SHA256:New, known SHA256:Old", true},
            std::tuple{ItemStatus::StatusError, "Login incorrect", false},
            std::tuple{ItemStatus::StatusConnecting, "Host key unknown: SHA256:AbC", false}}) {
        core::QueueList queue;
        core::QueueEvents events(queue);
        engine::LeaseBoard leases;
        SavedFiles saved;
        CliNotifier notifier(queue, events, leases, saved, false, false, true);
        queue.setNotifier(&events);
        const std::int32_t id = queue.addItem("sftp://u@h/~/a", "/nonexistent/a");
        queue.setStatusDetail(id, detail);
        queue.setStatus(id, status);
        queue.notifyQueueChanged(false, id); // as the job does after changing its item
        notifier.drain();
        EXPECT_EQ(notifier.hostKeyRefused(), refused) << detail;
        queue.setNotifier(nullptr);
    }
}

} // namespace
} // namespace bw::cli
