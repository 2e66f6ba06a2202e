// SPDX-License-Identifier: MIT
// Short, readable texts for byte counts, transfer speeds and the time a transfer has left, as the
// queue lists show them. Pure functions, GUI thread or any other.
#pragma once

#include <cstdint>

#include <QString>

namespace bw::widgets {

// 1536 gives "1.5 KiB"; below 1 KiB the bare count with "B". Negative counts read as 0.
QString sizeText(std::int64_t bytes);

// A rate in kB per second (1 kB = 1000 bytes, the unit of the engine's rates and of the speed limits in
// the options): "850 kB/s", "1.2 MB/s"; empty for 0 (nothing moving).
QString speedText(std::int64_t kBPerSecond);

// The time left for `remainingBytes` at `kBPerSecond`: "45s", "3m 20s", "2h 05m", "3d 4h";
// empty when the speed or the remainder is unknown (0 or less).
QString timeLeftText(std::int64_t remainingBytes, std::int64_t kBPerSecond);

// The exact count with its unit for tooltips: "1,234,567 bytes".
QString exactBytesText(std::int64_t bytes);

} // namespace bw::widgets
