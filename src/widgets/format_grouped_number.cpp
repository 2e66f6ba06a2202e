// SPDX-License-Identifier: MIT
#include "widgets/format_grouped_number.h"

#include <array>

namespace bw::widgets {

QString FormatGroupedNumber(std::uint64_t value)
{
    // Billions, millions, thousands, units. The billions group is not split further.
    const std::array<std::uint64_t, 4> groups{
        value / 1'000'000'000ULL,
        value / 1'000'000ULL % 1000,
        value / 1000ULL % 1000,
        value % 1000,
    };
    QString text;
    bool started = false;
    for (const std::uint64_t group : groups) {
        if (started)
            text += QStringLiteral(",%1").arg(group, 3, 10, QLatin1Char('0'));
        else if (group != 0) {
            text = QString::number(group);
            started = true;
        }
    }
    return text;
}

} // namespace bw::widgets
