// SPDX-License-Identifier: MIT
// What bellwick-cli does with the queue's events, on its main thread, each time it drains them: notes
// saved files, gives a leased session straight back (there is no browser to use it), and with
// --verbose prints the Batch Log lines. The workers only post; the main loop looks at the queue on its
// own clock.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/queue_events.h"
#include "core/queue_list.h"
#include "engine/connection_lease.h"
#include "saved_files.h"

namespace bw::cli {

class CliNotifier
{
public:
    CliNotifier(core::QueueList &queue, core::QueueEvents &events, engine::LeaseBoard &leases,
        SavedFiles &savedFiles, bool verbose, bool timeStamp, bool hidePassword);

    // Main thread: handles every event posted since the last call, in posting order.
    void drain();

    // Waits until wake() was called or `limitMs` passed.
    void waitForChange(int limitMs);
    // Wakes waitForChange from another thread (a signal arrived).
    void wake();

    // Manual-connection requests given back to the queue: settled as far as this runner goes.
    const std::set<std::int32_t> &parkedItems() const { return m_parked; }

    // An item ended because its server's SSH host key was unknown or changed: the run stops at once,
    // since nobody may be asked about the key here.
    bool hostKeyRefused() const { return m_hostKeyRefused; }

    // An item's login stopped at a private key that needs its passphrase: only an agent can open it
    // for this runner, which never asks, so the run stops at once too (the summary names the key).
    bool keyNeedsAgent() const { return m_keyNeedsAgent; }

    // The failures of items since the last call, one line each, to be printed as they happen.
    std::vector<std::string> takeFailureLines() { return std::exchange(m_failureLines, {}); }

    // Serialises writes to stderr between the log lines and the progress display.
    std::mutex &outputMutex() { return m_outputMutex; }

private:
    void onItemChanged(
        std::int32_t id, const std::optional<core::QueueItem> &item, core::EventClock::time_point at);
    void printLogLine(const core::LogLineEvent &line);

    core::QueueList &m_queue;
    core::QueueEvents &m_events;
    engine::LeaseBoard &m_leases;
    SavedFiles &m_savedFiles;
    const bool m_verbose;
    const bool m_timeStamp;
    const bool m_hidePassword;
    std::mutex m_outputMutex;
    std::mutex m_changeMutex;
    std::condition_variable m_changeSignal;
    bool m_changed = false; // guarded by m_changeMutex
    std::set<std::int32_t> m_parked; // main thread only
    bool m_hostKeyRefused = false; // main thread only
    bool m_keyNeedsAgent = false; // main thread only
    std::map<std::int32_t, std::int32_t> m_reportedEnds; // main thread only: the end each item was told at
    std::vector<std::string> m_failureLines; // main thread only
};

} // namespace bw::cli
