// SPDX-License-Identifier: MIT
// Byte counts with thousands separators, as the file panes show sizes.
#pragma once

#include <cstdint>

#include <QString>

namespace bw::widgets {

// 1234567 gives "1,234,567". The billions stay one group ("5000,000,000,000"); 0 gives the empty text.
QString FormatGroupedNumber(std::uint64_t value);

} // namespace bw::widgets
