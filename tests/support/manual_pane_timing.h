// SPDX-License-Identifier: MIT
// The scheduler timing of the remote-browser tests: quick passes, and jobs that offer their sessions
// on the tests' lease board.
#pragma once

#include <chrono>

#include "engine/connection_lease.h"
#include "engine/scheduler.h"

namespace bw::test {

inline engine::SchedulerTiming fastPasses()
{
    engine::SchedulerTiming timing;
    timing.passInterval = std::chrono::milliseconds(100);
    timing.stopCheck = std::chrono::milliseconds(20);
    return timing;
}

inline engine::TransferJobTiming offeringOn(engine::LeaseBoard &leases)
{
    engine::TransferJobTiming timing;
    timing.leases = &leases;
    return timing;
}

} // namespace bw::test
