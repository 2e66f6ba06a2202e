// SPDX-License-Identifier: MIT
// Waiting for a condition in tests, with a bounded limit instead of a fixed sleep.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace bw::test {

// Polls `condition` until it holds or `limit` has passed; returns whether it held.
inline bool waitUntil(const std::function<bool()> &condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace bw::test
