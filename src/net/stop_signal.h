// SPDX-License-Identifier: MIT
// The stop request of one connection: a flag any thread may set, and an eventfd written when it is
// set, so that a stream waiting in poll() wakes at once. Clearing drains the descriptor again.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/unique_fd.h"

namespace bw::net {

class StopSignal
{
public:
    StopSignal();

    // Sets or clears the request; setting wakes every wait on wakeFd().
    void set(bool stop);

    bool isSet() const { return m_stop.load(); }

    // -1 when no eventfd could be made (waits then only see the flag between slices).
    int wakeFd() const { return m_wakeFd.get(); }

    // Called by a wait that found the descriptor readable without a request: empties it again.
    void drainIfCleared();

private:
    void wake(); // m_mutex held
    void drain(); // m_mutex held

    platform::UniqueFd m_wakeFd;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    bool m_wakePending = false; // the descriptor holds a count; guarded by m_mutex
};

} // namespace bw::net
