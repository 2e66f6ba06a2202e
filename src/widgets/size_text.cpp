// SPDX-License-Identifier: MIT
#include "widgets/size_text.h"

#include <array>

#include <QCoreApplication>

#include "widgets/format_grouped_number.h"

namespace bw::widgets {

namespace {

constexpr std::array<const char *, 7> kUnits{"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};

// One decimal below 100 of a unit ("1.5 MiB", "12.3 MiB"), none from 100 on ("512 MiB"), so the
// text stays short and its width steady while it grows.
QString scaled(double value, std::size_t unit)
{
    while (value >= 1024.0 && unit + 1 < kUnits.size()) {
        value /= 1024.0;
        ++unit;
    }
    const int decimals = unit == 0 || value >= 99.95 ? 0 : 1;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(kUnits[unit]));
}

} // namespace

QString sizeText(std::int64_t bytes)
{
    return scaled(bytes > 0 ? static_cast<double>(bytes) : 0.0, 0);
}

QString speedText(std::int64_t kBPerSecond)
{
    // Decimal steps, as the engine counts its rates.
    static constexpr std::array<const char *, 6> kRateUnits{"kB/s", "MB/s", "GB/s", "TB/s", "PB/s", "EB/s"};
    if (kBPerSecond <= 0)
        return {};
    double value = static_cast<double>(kBPerSecond);
    std::size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < kRateUnits.size()) {
        value /= 1000.0;
        ++unit;
    }
    const int decimals = unit == 0 || value >= 99.95 ? 0 : 1;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(kRateUnits[unit]));
}

QString timeLeftText(std::int64_t remainingBytes, std::int64_t kBPerSecond)
{
    if (remainingBytes <= 0 || kBPerSecond <= 0)
        return {};
    const std::int64_t bytesPerSecond = kBPerSecond * 1000;
    const std::int64_t seconds = (remainingBytes + bytesPerSecond - 1) / bytesPerSecond;
    if (seconds < 60)
        return QStringLiteral("%1s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1m %2s").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (seconds < 86400)
        return QStringLiteral("%1h %2m")
            .arg(seconds / 3600)
            .arg(seconds % 3600 / 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1d %2h").arg(seconds / 86400).arg(seconds % 86400 / 3600);
}

QString exactBytesText(std::int64_t bytes)
{
    if (bytes <= 0)
        return QCoreApplication::translate("bw::widgets::SizeText", "0 bytes");
    return QCoreApplication::translate("bw::widgets::SizeText", "%1 bytes")
        .arg(FormatGroupedNumber(static_cast<std::uint64_t>(bytes)));
}

} // namespace bw::widgets
