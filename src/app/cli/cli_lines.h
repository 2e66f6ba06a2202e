// SPDX-License-Identifier: MIT
// The lines bellwick-cli writes about an item that did not finish, as it fails and in the summary at the
// end: passwords masked, with the server's reason when there is one.
#pragma once

#include <string>

#include "core/queue_item.h"

namespace bw::cli {

// "ftp://u:********@h/a.iso: Error (Certificate verification failed: ...)".
std::string failureLine(const core::QueueItem &item);

// An item that has just ended without its file (a refusal, a time-out, a bad URL): worth a line now,
// not only when the run is over.
bool isReportedFailure(const core::QueueItem &item);

} // namespace bw::cli
