// SPDX-License-Identifier: MIT
// The readable texts of a queue row: sizes with units, speed with the time left, and the hover text
// with the exact byte counts and, for a file name that repeats another, its folders. Pure functions.
#pragma once

#include <cstdint>

#include <QString>

namespace bw::core {
struct QueueItem;
}

namespace bw::ui {

// "Bytes": "12.3 MiB (45%)" once the total is at least 100 bytes, else the bare size ("50 B").
QString doneSizeText(std::int64_t bytesDone, std::int64_t totalBytes, int percent);

// "Speed": "1.2 MiB/s, 3m 20s left" while moving, the bare speed when the total is unknown, else empty.
QString speedAndTimeLeftText(std::int64_t kBPerSecond, std::int64_t bytesDone, std::int64_t totalBytes);

// "File": the file name, or for a folder item its last folder with a slash ("photos/"), so the row
// says what it fetches.
QString fileColumnText(const core::QueueItem &item);

// The row's hover text: the status name, the exact byte counts, and the remote and local folders when
// `nameRepeats` (another row shows the same file name).
QString rowDetailTip(const QString &statusName, const core::QueueItem &item, bool nameRepeats);

} // namespace bw::ui
