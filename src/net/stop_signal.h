// SPDX-License-Identifier: MIT
// The stop request of a connection: a code any thread may set, and an eventfd written when it is set,
// so that a wait in poll() wakes at once. The request is sticky: it stays until the owner clears it
// deliberately (a new login, a reset). Clearing drains the descriptor again.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/unique_fd.h"

namespace bw::net {

class StopSignal
{
public:
    StopSignal();

    // Sets the request with its code (an ErrorCode stop code, not 0) and wakes every wait on wakeFd().
    void request(std::int32_t code);
    // Takes the request back; the owner's thread only.
    void clear();

    bool isSet() const { return m_code.load() != 0; }

    // The code of the pending request, 0 for none.
    std::int32_t code() const { return m_code.load(); }

    // -1 when no eventfd could be made (waits then only see the flag between slices).
    int wakeFd() const { return m_wakeFd.get(); }

    // Called by a wait that found the descriptor readable without a request: empties it again.
    void drainIfCleared();

private:
    void drain(); // m_mutex held

    platform::UniqueFd m_wakeFd;
    std::atomic<std::int32_t> m_code{0};
    std::mutex m_mutex;
    bool m_wakePending = false; // the descriptor holds a count; guarded by m_mutex
};

} // namespace bw::net
