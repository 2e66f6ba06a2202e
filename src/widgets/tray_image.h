// SPDX-License-Identifier: MIT
// The six notification-area pictures: idle, four load levels and a manual connection.
#pragma once

namespace bw::widgets {

enum class TrayImage
{
    Idle = 0,
    Load1 = 1,
    Load2 = 2,
    Load3 = 3,
    Load4 = 4,
    Manual = 5,
};

} // namespace bw::widgets
