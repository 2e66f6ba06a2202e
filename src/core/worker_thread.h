// SPDX-License-Identifier: MIT
// The thread base of the scheduler, the transfer jobs and the socket workers: starts a thread on
// `Run`, tracks whether it runs, carries a stop request. The owner's thread starts, stops and collects;
// only the thread itself clears the running flag.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace bw::core {

class WorkerThread
{
public:
    WorkerThread() = default;
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Fails while a thread exists (running or not yet collected).
    bool start();
    bool isRunning() const;
    void setRunning(bool running);
    bool stopRequested() const;
    void requestStop(bool stop = true);
    // True when no thread exists; collects an ended thread.
    bool isFinished();
    // Returns once `Run` has returned.
    void waitUntilStopped();
    // Waits at most timeoutMs for `Run` to return; true when it has.
    bool waitUntilStoppedFor(int timeoutMs);
    // The value `Run` returned last.
    int result() const;

protected:
    virtual int Run() = 0;
    // Derived classes call this first in their destructor: their `Run` must not outlive their members.
    void finishBeforeDestruction();

private:
    void threadEntry();

    mutable std::mutex m_lock;
    std::condition_variable m_ended;
    bool m_running = false; // guarded by m_lock
    bool m_stopRequested = false; // guarded by m_lock
    int m_result = 0; // guarded by m_lock
    std::thread m_thread; // guarded by m_lock
};

} // namespace bw::core
