// SPDX-License-Identifier: MIT
// An event that wakes one waiter and resets itself, for threads that wait on each other with a time limit.
// Any thread may set or wait.
#pragma once

#include <condition_variable>
#include <mutex>

namespace bw::platform {

class AutoResetEvent
{
public:
    explicit AutoResetEvent(bool initiallySet = false);

    void set();
    void reset();
    // Waits until set, then resets the event.
    void wait();
    // Waits at most timeoutMs; true when the event was set (and is now reset), false on time-out.
    bool waitFor(int timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set; // guarded by m_mutex
};

} // namespace bw::platform
