// SPDX-License-Identifier: MIT
// Keeps up to maxThreads transfer jobs (never more than 32) working on the queue: starts at most one new
// job per pass when the queue has work for it, reaps ended jobs, stops jobs whose item was removed. A pass
// runs every passInterval, when a resting site's rest ends, and at once when woken (work added, a job took
// its first item or ended). Also
// holds the engine's transfer options. Options and counters may be read and set from any thread; the slots
// are touched only by the scheduler's own thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "core/worker_thread.h"
#include "engine/local_path.h"
#include "engine/transfer_job.h"
#include "platform/auto_reset_event.h"

namespace bw::core {
class QueueList;
}

namespace bw::engine {

struct SchedulerTiming
{
    std::chrono::milliseconds passInterval{5000}; // one pass, so at most one new job, per interval
    std::chrono::milliseconds stopCheck{1000}; // a stop request is seen within this
};

class Scheduler : public core::WorkerThread
{
public:
    static constexpr int kSlotCount = 32;

    explicit Scheduler(SchedulerTiming timing = {}, TransferJobTiming jobTiming = {});
    ~Scheduler() override;

    // Set before the first start; the queue must outlive the scheduler's thread.
    void setQueue(core::QueueList *queue);
    core::QueueList *queue() const;

    // Starts the thread when it is not running (clearing an old stop request). False when it runs.
    bool startScheduler();
    // Asks the thread to stop; it aborts every job and ends. Returns at once.
    void stop();
    // The window's Go command: start when stopped, else stop.
    void go();
    // Runs the next pass now instead of at the end of the interval. Any thread; cheap.
    void wake();

    bool useDownloadPath() const;
    void setUseDownloadPath(bool on);
    bool longLocalPaths() const;
    void setLongLocalPaths(bool on);
    std::string downloadPath() const;
    void setDownloadPath(const std::string &path);
    int maxThreads() const;
    void setMaxThreads(int count);
    // Where downloads land when no download folder is used and the caller names none.
    std::string localFolder() const;
    void setLocalFolder(const std::string &folder);
    // The options `buildLocalPath` needs, read together.
    LocalPathOptions localPathOptions() const;

    // Jobs alive, jobs holding a connection (refreshed every pass), and the most jobs alive at once.
    int jobCount() const;
    int busyCount() const;
    int peakJobCount() const;

    // Passes made since construction; a pass counts once the wait after it has been planned.
    int passCount() const { return m_passCount.load(); }

protected:
    int Run() override;

private:
    void runPass();
    void reapJobs();
    void startJobIfWorkWaits();
    // The pass interval, or less when a resting site's rest ends sooner.
    std::chrono::milliseconds timeToNextPass() const;
    void stopAllJobs();
    // Waits one pass interval in steps, ending early when a stop is requested or the scheduler is woken.
    void waitForNextPass();

    const SchedulerTiming m_timing;
    const TransferJobTiming m_jobTiming;
    platform::AutoResetEvent m_wake;
    std::atomic<bool> m_woken{false}; // a wake that arrived during a pass is not lost

    mutable std::mutex m_optionsLock;
    bool m_useDownloadPath = false; // guarded by m_optionsLock
    bool m_longLocalPaths = false; // guarded by m_optionsLock
    std::string m_downloadPath; // guarded by m_optionsLock
    int m_maxThreads = 10; // guarded by m_optionsLock
    int m_jobCount = 0; // guarded by m_optionsLock
    int m_busyCount = 0; // guarded by m_optionsLock
    int m_peakJobCount = 0; // guarded by m_optionsLock
    std::string m_localFolder; // guarded by m_optionsLock
    core::QueueList *m_queue = nullptr; // guarded by m_optionsLock

    std::atomic<int> m_passCount{0};
    std::array<std::unique_ptr<TransferJob>, kSlotCount> m_slots; // scheduler thread only
    TransferJob *m_lastStarted = nullptr; // in m_slots; scheduler thread only
};

} // namespace bw::engine
