// SPDX-License-Identifier: MIT
#include "saved_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "progress_display.h"

namespace bw::cli {

std::string savedFileLine(const SavedFile &file)
{
    // The runner looks at the queue every 100 ms, so a shorter time is not measured: a small file that
    // took "0.001 s" would claim gigabytes a second. Such a time counts as the 100 ms it may have taken.
    constexpr double kShortestMeasured = 0.1;
    const double seconds = std::max(file.seconds, kShortestMeasured);
    const auto rateKBps = static_cast<std::int64_t>(static_cast<double>(file.sizeBytes) / seconds / 1000.0);
    return file.path + "  " + groupedNumber(file.sizeBytes) + " B  " + groupedNumber(rateKBps) + " kB/s"
        + (file.verified.empty() ? "" : "  " + file.verified);
}

void SavedFiles::onItemChanged(std::int32_t id, const core::QueueItem &item, Clock::time_point at)
{
    Timing *timing = nullptr;
    if (const auto found = m_timings.find(id); found != m_timings.end())
        timing = &found->second;
    if (timing && timing->done)
        return;
    if (item.transferring) {
        // A new attempt starts the clock again.
        if (!timing || timing->transferOver)
            m_timings[id] = Timing{at, at, false, false};
    } else if (timing) {
        if (!timing->transferOver) {
            timing->ended = at;
            timing->transferOver = true;
        }
        timing->done = item.isDone();
    }
}

std::vector<SavedFile> SavedFiles::takeFinished(core::QueueList &queue)
{
    std::vector<std::int32_t> finished;
    for (const core::ItemState &state : queue.states()) {
        if (state.status == core::ItemStatus::StatusFinished && !m_reported.count(state.id))
            finished.push_back(state.id);
    }
    if (finished.empty())
        return {};
    // Paths still to be written by an item not yet done: a redirect's file is saved by its target.
    std::set<std::string> pendingPaths;
    for (const core::QueueItem &item : queue.snapshot()) {
        if (!item.isDone())
            pendingPaths.insert(item.localPath);
    }
    // The item that moved the bytes first: a redirect followed within one job finishes its hops too, and
    // they name the same file.
    std::stable_partition(
        finished.begin(), finished.end(), [this](std::int32_t id) { return m_timings.count(id) != 0; });
    std::vector<SavedFile> saved;
    for (const std::int32_t id : finished) {
        m_reported.insert(id);
        m_toDrop.push_back(id);
        const std::optional<core::QueueItem> item = queue.snapshot(id);
        if (!item || item->fileName.empty() || pendingPaths.count(item->localPath)
            || !m_reportedPaths.insert(item->localPath).second)
            continue;
        std::error_code error;
        if (!std::filesystem::is_regular_file(item->localPath, error))
            continue;
        const std::uintmax_t size = std::filesystem::file_size(item->localPath, error);
        if (error)
            continue;
        SavedFile file{item->localPath, static_cast<std::int64_t>(size)};
        if (item->statusDetail.starts_with("Verified "))
            file.verified = item->statusDetail;
        if (const auto found = m_timings.find(id); found != m_timings.end()) {
            const Clock::time_point end = found->second.transferOver ? found->second.ended : Clock::now();
            file.seconds = std::chrono::duration<double>(end - found->second.started).count();
        }
        saved.push_back(file);
    }
    return saved;
}

void SavedFiles::dropReported(core::QueueList &queue)
{
    // Only the items takeFinished just reported: a finished item stays finished.
    for (const std::int32_t id : m_toDrop) {
        queue.removeItem(id);
        m_timings.erase(id);
    }
    m_toDrop.clear();
}

} // namespace bw::cli
