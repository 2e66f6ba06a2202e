// SPDX-License-Identifier: MIT
// Changing one of the queue's defaults in a test, leaving the other four as they are.
#pragma once

#include "core/queue_list.h"

namespace bw::test {

template <typename Field, typename Value>
void setQueueDefault(core::QueueList &queue, Field core::QueueDefaults::*field, Value value)
{
    core::QueueDefaults defaults = queue.defaults();
    defaults.*field = static_cast<Field>(value);
    queue.setDefaults(defaults);
}

} // namespace bw::test
