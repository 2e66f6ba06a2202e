// SPDX-License-Identifier: MIT
#include "engine/scheduler.h"

#include <algorithm>

#include "core/queue_list.h"
#include "net/error_code.h"
#include "platform/thread_util.h"

namespace bw::engine {

Scheduler::Scheduler(SchedulerTiming timing, TransferJobTiming jobTiming)
    : m_timing(timing)
    , m_jobTiming(jobTiming)
{}

Scheduler::~Scheduler()
{
    // End the thread (and with it every job) before the slots go.
    stop();
    waitUntilStopped();
    isFinished();
    // A thread that never ran (or failed to start) may leave jobs behind.
    for (auto &slot : m_slots) {
        if (slot) {
            slot->abort(net::StopByEngine);
            slot.reset();
        }
    }
}

void Scheduler::setQueue(core::QueueList *queue)
{
    std::lock_guard lock{m_optionsLock};
    m_queue = queue;
}

core::QueueList *Scheduler::queue() const
{
    std::lock_guard lock{m_optionsLock};
    return m_queue;
}

bool Scheduler::startScheduler()
{
    if (!isFinished())
        return false;
    requestStop(false);
    return start();
}

void Scheduler::stop()
{
    requestStop(true);
    m_wake.set();
}

void Scheduler::wake()
{
    m_woken.store(true);
    m_wake.set();
}

void Scheduler::go()
{
    if (!startScheduler())
        stop();
}

#define BW_OPTION(Type, getter, setter, member)                                                              \
    Type Scheduler::getter() const                                                                           \
    {                                                                                                        \
        std::lock_guard lock{m_optionsLock};                                                                 \
        return member;                                                                                       \
    }                                                                                                        \
    void Scheduler::setter(Type value)                                                                       \
    {                                                                                                        \
        std::lock_guard lock{m_optionsLock};                                                                 \
        member = value;                                                                                      \
    }

BW_OPTION(bool, useDownloadPath, setUseDownloadPath, m_useDownloadPath)
BW_OPTION(bool, longLocalPaths, setLongLocalPaths, m_longLocalPaths)
BW_OPTION(int, maxThreads, setMaxThreads, m_maxThreads)
#undef BW_OPTION

std::string Scheduler::downloadPath() const
{
    std::lock_guard lock{m_optionsLock};
    return m_downloadPath;
}

void Scheduler::setDownloadPath(const std::string &path)
{
    std::lock_guard lock{m_optionsLock};
    m_downloadPath = path;
}

std::string Scheduler::localFolder() const
{
    std::lock_guard lock{m_optionsLock};
    return m_localFolder;
}

void Scheduler::setLocalFolder(const std::string &folder)
{
    std::lock_guard lock{m_optionsLock};
    m_localFolder = folder;
}

LocalPathOptions Scheduler::localPathOptions() const
{
    std::lock_guard lock{m_optionsLock};
    return {m_useDownloadPath, m_downloadPath, m_longLocalPaths, m_localFolder};
}

int Scheduler::jobCount() const
{
    std::lock_guard lock{m_optionsLock};
    return m_jobCount;
}

int Scheduler::busyCount() const
{
    std::lock_guard lock{m_optionsLock};
    return m_busyCount;
}

int Scheduler::peakJobCount() const
{
    std::lock_guard lock{m_optionsLock};
    return m_peakJobCount;
}

int Scheduler::Run()
{
    platform::setLowestPriority();
    while (!stopRequested()) {
        runPass();
        waitForNextPass();
    }
    stopAllJobs();
    std::lock_guard lock{m_optionsLock};
    m_jobCount = 0;
    return 0;
}

void Scheduler::runPass()
{
    // Ended jobs first: the slot of a job whose end woke this pass is free for new work at once.
    reapJobs();
    startJobIfWorkWaits();
}

void Scheduler::reapJobs()
{
    int busy = 0;
    for (auto &slot : m_slots) {
        if (!slot)
            continue;
        slot->checkItem();
        if (slot->hasEnded())
            slot->waitUntilStopped(); // its wake came from the last lines of its run loop
        if (slot->isFinished()) {
            if (m_lastStarted == slot.get())
                m_lastStarted = nullptr;
            slot.reset();
            std::lock_guard lock{m_optionsLock};
            --m_jobCount;
        } else if (slot->isBusy()) {
            ++busy;
        }
    }
    std::lock_guard lock{m_optionsLock};
    m_busyCount = busy;
}

void Scheduler::startJobIfWorkWaits()
{
    core::QueueList *queue = nullptr;
    bool roomForJob = false;
    {
        std::lock_guard lock{m_optionsLock};
        queue = m_queue;
        roomForJob = m_jobCount < m_maxThreads;
    }
    // The queue is asked without the options lock held: no path holds the queue lock while taking it.
    // One job at a time looks for its first item: until it has, the queue still shows that item as
    // eligible, and another job started for it would find nothing.
    const bool lastStillLooking = m_lastStarted && !m_lastStarted->hasTakenFirstItem();
    if (!queue || !roomForJob || lastStillLooking || !queue->anyEligible())
        return;
    const auto freeSlot = std::find(m_slots.begin(), m_slots.end(), nullptr);
    if (freeSlot == m_slots.end())
        return;
    *freeSlot = std::make_unique<TransferJob>(m_jobTiming);
    // Once the job holds its first item the queue can tell whether another job has work; when it ends,
    // its slot is free.
    (*freeSlot)->setOnEvent([this] { wake(); });
    (*freeSlot)->start(*queue);
    m_lastStarted = freeSlot->get();
    std::lock_guard lock{m_optionsLock};
    ++m_jobCount;
    m_peakJobCount = std::max(m_peakJobCount, m_jobCount);
}

std::chrono::milliseconds Scheduler::timeToNextPass() const
{
    using namespace std::chrono;
    const core::QueueList *queue = this->queue();
    const std::optional<std::int64_t> restEnd = queue ? queue->nextRestEnd() : std::nullopt;
    if (!restEnd)
        return m_timing.passInterval;
    // The site is ready in the first pass after its rest end, a whole second of the queue's clock.
    const milliseconds untilRestEnd{*restEnd * 1000 - queue->clock().nowMilliseconds()};
    return std::clamp(untilRestEnd, milliseconds(1), m_timing.passInterval);
}

void Scheduler::waitForNextPass()
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + timeToNextPass();
    ++m_passCount;
    while (!stopRequested() && !m_woken.exchange(false)) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        if (left <= milliseconds::zero())
            return;
        m_wake.waitFor(static_cast<int>(std::min(left, m_timing.stopCheck).count()));
    }
}

void Scheduler::stopAllJobs()
{
    for (auto &slot : m_slots) {
        if (slot)
            slot->abort(net::StopByEngine);
    }
    for (auto &slot : m_slots) {
        if (!slot)
            continue;
        slot->waitUntilStopped();
        slot.reset();
        m_lastStarted = nullptr;
        std::lock_guard lock{m_optionsLock};
        --m_jobCount;
    }
}

} // namespace bw::engine
