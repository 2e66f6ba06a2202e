// SPDX-License-Identifier: MIT
#include "platform/clock.h"

#include <chrono>
#include <ctime>

namespace bw::platform {

std::int64_t SystemClock::nowSeconds() const
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t SystemClock::nowMilliseconds() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t SystemClock::monotonicMilliseconds() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

SystemClock &SystemClock::instance()
{
    static SystemClock clock;
    return clock;
}

} // namespace bw::platform
