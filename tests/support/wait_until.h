// SPDX-License-Identifier: MIT
// Waiting for a condition in tests, with a bounded limit instead of a fixed sleep, ending at once when
// the awaited state can no longer come.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace bw::test {

// How a bounded wait ended.
enum class WaitEnd
{
    Reached,
    WrongState, // a state was reached from which the awaited one cannot follow
    TimedOut,
};

// Polls `condition` until it holds, `wrongState` holds or `limit` has passed. The condition is checked
// first, so a state that is both awaited and "wrong" counts as reached.
inline WaitEnd waitUntilUnless(const std::function<bool()> &condition,
    const std::function<bool()> &wrongState, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition())
            return WaitEnd::Reached;
        if (wrongState && wrongState())
            return condition() ? WaitEnd::Reached : WaitEnd::WrongState;
        if (std::chrono::steady_clock::now() >= deadline)
            return condition() ? WaitEnd::Reached : WaitEnd::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Polls `condition` until it holds or `limit` has passed; returns whether it held.
inline bool waitUntil(
    const std::function<bool()> &condition, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    return waitUntilUnless(condition, nullptr, limit) == WaitEnd::Reached;
}

} // namespace bw::test
