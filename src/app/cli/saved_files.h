// SPDX-License-Identifier: MIT
// Which files bellwick-cli saved during the run, with their size and average speed. Main thread only:
// the notifier hands in the items' copies from the queue's events, the run collects the finished ones.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/queue_list.h"

namespace bw::cli {

struct SavedFile
{
    std::string path;
    std::int64_t sizeBytes = 0;
    double seconds = 0; // from the first byte to the end of the transfer
    std::string verified{}; // "Verified SHA-256 (server HASH)" when the file's checksum was checked
};

// "/home/me/a.bin  100,000 B  512 kB/s", then "  Verified SHA-256 (server HASH)" when checked
std::string savedFileLine(const SavedFile &file);

class SavedFiles
{
public:
    using Clock = std::chrono::steady_clock;

    // Item `id` was `item` at `at`: notes when its transfer began and ended.
    void onItemChanged(std::int32_t id, const core::QueueItem &item, Clock::time_point at);
    // On the main thread: the files finished since the last call. An item that handed its local file
    // on (a redirect) is left out: the item that takes the file over reports it.
    std::vector<SavedFile> takeFinished(core::QueueList &queue);
    // On the main thread, after takeFinished: the finished items it reported leave the queue, as the
    // window's refresh drops them. An ended item keeps its site resting, which would keep a second
    // connection from joining the site for the retry time.
    void dropReported(core::QueueList &queue);

private:
    struct Timing
    {
        Clock::time_point started;
        Clock::time_point ended;
        bool transferOver = false;
        bool done = false;
    };

    std::map<std::int32_t, Timing> m_timings;
    std::set<std::int32_t> m_reported; // main thread only
    std::vector<std::int32_t> m_toDrop; // main thread only: reported, still in the queue
    std::set<std::string> m_reportedPaths; // main thread only: a redirect chain saves one file once
};

} // namespace bw::cli
