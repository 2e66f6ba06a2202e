// SPDX-License-Identifier: MIT
#include "progress_display.h"

#include <cstdio>
#include <vector>

#include "core/url_password_mask.h"

namespace bw::cli {

std::string groupedNumber(std::int64_t value)
{
    const std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out = value < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string timeLeftText(std::int64_t bytesLeft, std::int64_t rateKBps)
{
    if (rateKBps <= 0 || bytesLeft < 0)
        return {};
    const std::int64_t bytesPerSecond = rateKBps * 1000;
    const std::int64_t seconds = (bytesLeft + bytesPerSecond - 1) / bytesPerSecond;
    char text[48];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
            static_cast<long long>(seconds % 60));
    return text;
}

std::string progressLine(
    const std::string &name, std::int64_t bytesDone, std::int64_t totalSize, std::int64_t rateKBps)
{
    std::string line = name + "  " + groupedNumber(bytesDone);
    if (totalSize > 0) {
        line += " / " + groupedNumber(totalSize) + " B  " + std::to_string(bytesDone * 100 / totalSize) + "%";
    } else {
        line += " B";
    }
    line += "  " + groupedNumber(rateKBps) + " kB/s";
    if (totalSize > 0) {
        if (const std::string left = timeLeftText(totalSize - bytesDone, rateKBps); !left.empty())
            line += "  " + left + " left";
    }
    return line;
}

ProgressDisplay::ProgressDisplay(core::QueueList &queue, std::mutex &outputMutex, bool enabled)
    : m_queue(queue)
    , m_outputMutex(outputMutex)
    , m_enabled(enabled)
{}

void ProgressDisplay::update()
{
    if (!m_enabled)
        return;
    std::vector<std::string> lines;
    // Small records for the whole queue, full copies only of the few items in progress.
    for (const core::ItemState &state : m_queue.states()) {
        if (!core::isInProgressStatus(state.status))
            continue;
        const std::optional<core::QueueItem> copy = m_queue.snapshot(state.id);
        if (!copy || !copy->isInProgress())
            continue;
        const core::QueueItem &item = *copy;
        std::string name = item.fileName.empty() ? core::maskUrlPassword(item.url) : item.fileName;
        std::string line = item.transferring
            ? progressLine(name, item.bytesDone, item.totalSize, item.rateKBps)
            : name + "  " + core::statusText(item.status);
        if (line.size() > 100)
            line = line.substr(0, 97) + "...";
        lines.push_back(line);
    }
    std::lock_guard lock{m_outputMutex};
    eraseLocked();
    for (const auto &line : lines)
        std::fprintf(stderr, "%s\n", line.c_str());
    m_linesShown = static_cast<int>(lines.size());
    std::fflush(stderr);
}

void ProgressDisplay::clear()
{
    if (!m_enabled)
        return;
    std::lock_guard lock{m_outputMutex};
    eraseLocked();
    std::fflush(stderr);
}

void ProgressDisplay::eraseLocked()
{
    // Up one line and clear it, once per line drawn last time.
    for (; m_linesShown > 0; --m_linesShown)
        std::fputs("\033[A\033[2K\r", stderr);
}

} // namespace bw::cli
