// SPDX-License-Identifier: MIT
#include "cli_notifier.h"

#include <chrono>
#include <ctime>

namespace bw::cli {

CliNotifier::CliNotifier(core::QueueList &queue, engine::LeaseBoard &leases, SavedFiles &savedFiles,
    bool verbose, bool timeStamp, bool hidePassword)
    : m_queue(queue)
    , m_leases(leases)
    , m_savedFiles(savedFiles)
    , m_verbose(verbose)
    , m_timeStamp(timeStamp)
    , m_hidePassword(hidePassword)
{}

void CliNotifier::notify(unsigned message, std::uint64_t wParam, std::int64_t itemId, const std::string &text)
{
    if (message == core::kWmQueueChanged) {
        const auto id = static_cast<std::int32_t>(itemId);
        if (id != 0)
            m_savedFiles.onItemChanged(m_queue, id, SavedFiles::Clock::now());
        // A manual-connection request needs the window: give the session back as a temporary
        // disconnect does, so the item stays queued for the window.
        // The job takes such an item again once its site has nothing else; it is then left on offer
        // (the job waits until it stops) instead of being handed back and forth without end.
        const std::shared_ptr<engine::ConnectionLease> lease = id != 0 ? m_leases.find(id) : nullptr;
        if (lease && !lease->hasEnded()) {
            bool firstTime = false;
            {
                std::lock_guard lock{m_parkedMutex};
                firstTime = m_parked.insert(id).second;
            }
            if (firstTime && lease->take())
                lease->giveBack(static_cast<std::int32_t>(core::ItemStatus::StatusReconnectAfterTransfers));
        }
        return;
    }
    if (!m_verbose)
        return;
    if (message == core::kWmLogSent && m_hidePassword && text.starts_with("PASS "))
        printLogLine(wParam, "PASS ********");
    else if (!text.empty())
        printLogLine(wParam, text);
}

void CliNotifier::printLogLine(std::uint64_t threadId, const std::string &text)
{
    std::lock_guard lock{m_outputMutex};
    if (m_timeStamp) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        std::fprintf(stderr, "[%02d:%02d:%02d %lu] %s\n", local.tm_hour, local.tm_min, local.tm_sec,
            static_cast<unsigned long>(threadId), text.c_str());
    } else {
        std::fprintf(stderr, "[%lu] %s\n", static_cast<unsigned long>(threadId), text.c_str());
    }
}

void CliNotifier::waitForChange(int limitMs)
{
    std::unique_lock lock{m_changeMutex};
    m_changeSignal.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return m_changed; });
    m_changed = false;
}

void CliNotifier::wake()
{
    {
        std::lock_guard lock{m_changeMutex};
        m_changed = true;
    }
    m_changeSignal.notify_all();
}

} // namespace bw::cli

namespace bw::cli {

std::set<std::int32_t> CliNotifier::parkedItems() const
{
    std::lock_guard lock{m_parkedMutex};
    return m_parked;
}

} // namespace bw::cli
