// SPDX-License-Identifier: MIT
// The live progress lines of bellwick-cli on a terminal: one line per running item with its name,
// bytes, percent and speed, redrawn in place. Called on the main thread only.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "core/queue_list.h"

namespace bw::cli {

// "file.zip  1,234,567 / 9,000,000 B  13%  456 kB/s  0:17 left" (size unknown: no total, no percent and
// no time left; no speed yet: no time left).
std::string progressLine(
    const std::string &name, std::int64_t bytesDone, std::int64_t totalSize, std::int64_t rateKBps);
std::string groupedNumber(std::int64_t value);
// "0:17", "12:05", "3:02:09"; empty when the speed is not known yet.
std::string timeLeftText(std::int64_t bytesLeft, std::int64_t rateKBps);

class ProgressDisplay
{
public:
    ProgressDisplay(core::QueueList &queue, std::mutex &outputMutex, bool enabled);

    // Redraws the lines of the items in progress.
    void update();
    // Removes the lines, so that the summary starts on a clean line.
    void clear();

private:
    void eraseLocked();

    core::QueueList &m_queue;
    std::mutex &m_outputMutex;
    const bool m_enabled;
    int m_linesShown = 0;
};

} // namespace bw::cli
