// SPDX-License-Identifier: MIT
#include "ui/refused_items.h"

#include "core/queue_list.h"

namespace bw::ui {

QList<std::int32_t> retryRefusedItems(
    core::QueueList &queue, const std::function<bool(const core::QueueItem &)> &refused)
{
    QList<std::int32_t> reset;
    for (const core::QueueItem &item : queue.snapshot()) {
        if (refused(item) && queue.resetForRetry(item.id))
            reset.append(item.id);
    }
    return reset;
}

} // namespace bw::ui
