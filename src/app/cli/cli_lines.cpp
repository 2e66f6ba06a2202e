// SPDX-License-Identifier: MIT
#include "cli_lines.h"

#include "core/url_password_mask.h"

namespace bw::cli {

std::string failureLine(const core::QueueItem &item)
{
    // The reason may quote a URL too ("Cannot follow the redirect to ftp://u:p@h/").
    return core::maskPasswordsInText(item.url + ": " + core::statusTextWithDetail(item));
}

bool isReportedFailure(const core::QueueItem &item)
{
    using enum core::ItemStatus;
    // Idle is where a stop leaves an item; a parked manual connection waits for the window.
    return !item.isInProgress() && !item.isDone() && item.status != StatusIdle
        && item.status != StatusReconnectAfterTransfers;
}

} // namespace bw::cli
