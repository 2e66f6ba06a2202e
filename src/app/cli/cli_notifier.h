// SPDX-License-Identifier: MIT
// What bellwick-cli does with the queue's notifications, on the worker threads that send them: notes
// saved files, gives a leased session straight back (there is no browser to use it), and with
// --verbose prints the Batch Log lines. The main loop looks at the queue on its own clock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>

#include "core/queue_list.h"
#include "core/queue_notifier.h"
#include "engine/connection_lease.h"
#include "saved_files.h"

namespace bw::cli {

class CliNotifier : public core::QueueNotifier
{
public:
    CliNotifier(core::QueueList &queue, engine::LeaseBoard &leases, SavedFiles &savedFiles, bool verbose,
        bool timeStamp, bool hidePassword);

    void notify(
        unsigned message, std::uint64_t wParam, std::int64_t itemId, const std::string &text) override;

    // Waits until wake() was called or `limitMs` passed.
    void waitForChange(int limitMs);
    // Wakes waitForChange from another thread (a signal arrived).
    void wake();

    // Manual-connection requests given back to the queue: settled as far as this runner goes.
    std::set<std::int32_t> parkedItems() const;

    // Serialises writes to stderr between the log lines and the progress display.
    std::mutex &outputMutex() { return m_outputMutex; }

private:
    void printLogLine(std::uint64_t threadId, const std::string &text);

    core::QueueList &m_queue;
    engine::LeaseBoard &m_leases;
    SavedFiles &m_savedFiles;
    const bool m_verbose;
    const bool m_timeStamp;
    const bool m_hidePassword;
    std::mutex m_outputMutex;
    std::mutex m_changeMutex;
    std::condition_variable m_changeSignal;
    bool m_changed = false; // guarded by m_changeMutex
    mutable std::mutex m_parkedMutex;
    std::set<std::int32_t> m_parked; // guarded by m_parkedMutex
};

} // namespace bw::cli
