// SPDX-License-Identifier: MIT
// Sending refused queue items round again once the user has settled why they were refused (a trusted
// certificate or host key, a typed passphrase). GUI thread.
#pragma once

#include <cstdint>
#include <functional>

#include <QList>

namespace bw::core {
class QueueItem;
class QueueList;
} // namespace bw::core

namespace bw::ui {

// Makes every item that `refused` picks new again (items a worker holds stay as they are) and returns
// the ids that were reset, in queue order.
QList<std::int32_t> retryRefusedItems(
    core::QueueList &queue, const std::function<bool(const core::QueueItem &)> &refused);

} // namespace bw::ui
