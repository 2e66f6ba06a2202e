// SPDX-License-Identifier: MIT
#include "core/worker_thread.h"

#include <chrono>
#include <system_error>

#include "core/diagnostic_log.h"

namespace bw::core {

WorkerThread::~WorkerThread()
{
    finishBeforeDestruction();
}

void WorkerThread::finishBeforeDestruction()
{
    if (isFinished())
        return;
    DiagnosticLog::instance().writeFormatted("WARNING: Thread running in destructor\n");
    waitUntilStopped();
    while (!isFinished()) {}
}

bool WorkerThread::start()
{
    std::lock_guard lock{m_lock};
    if (m_thread.joinable() || m_running)
        return false;
    m_running = true;
    try {
        m_thread = std::thread(&WorkerThread::threadEntry, this);
    } catch (const std::system_error &) {
        m_running = false;
        DiagnosticLog::instance().writeFormatted("Thread Creation Error\n");
        return false;
    }
    return true;
}

void WorkerThread::threadEntry()
{
    int result = Run();
    {
        std::lock_guard lock{m_lock};
        m_result = result;
        m_running = false;
    }
    m_ended.notify_all();
}

bool WorkerThread::isRunning() const
{
    std::lock_guard lock{m_lock};
    return m_running;
}

void WorkerThread::setRunning(bool running)
{
    {
        std::lock_guard lock{m_lock};
        m_running = running;
    }
    m_ended.notify_all();
}

bool WorkerThread::stopRequested() const
{
    std::lock_guard lock{m_lock};
    return m_stopRequested;
}

void WorkerThread::requestStop(bool stop)
{
    std::lock_guard lock{m_lock};
    m_stopRequested = stop;
}

bool WorkerThread::isFinished()
{
    std::thread ended;
    {
        std::lock_guard lock{m_lock};
        if (!m_thread.joinable())
            return true;
        if (m_running)
            return false;
        ended = std::move(m_thread);
    }
    // `Run` has returned; the join only waits for the thread's last few instructions.
    ended.join();
    return true;
}

void WorkerThread::waitUntilStopped()
{
    std::unique_lock lock{m_lock};
    m_ended.wait(lock, [this] { return !m_running; });
}

bool WorkerThread::waitUntilStoppedFor(int timeoutMs)
{
    std::unique_lock lock{m_lock};
    return m_ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_running; });
}

int WorkerThread::result() const
{
    std::lock_guard lock{m_lock};
    return m_result;
}

} // namespace bw::core
