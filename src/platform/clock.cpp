// SPDX-License-Identifier: MIT
#include "platform/clock.h"

#include <ctime>

namespace bw::platform {

std::int64_t SystemClock::nowSeconds() const
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

SystemClock &SystemClock::instance()
{
    static SystemClock clock;
    return clock;
}

} // namespace bw::platform
