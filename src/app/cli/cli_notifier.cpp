// SPDX-License-Identifier: MIT
#include "cli_notifier.h"

#include <chrono>
#include <ctime>

#include "cli_lines.h"
#include "core/url_password_mask.h"
#include "engine/host_key_trust.h"
#include "engine/key_passphrases.h"

namespace bw::cli {

CliNotifier::CliNotifier(core::QueueList &queue, core::QueueEvents &events, engine::LeaseBoard &leases,
    SavedFiles &savedFiles, bool verbose, bool timeStamp, bool hidePassword)
    : m_queue(queue)
    , m_events(events)
    , m_leases(leases)
    , m_savedFiles(savedFiles)
    , m_verbose(verbose)
    , m_timeStamp(timeStamp)
    , m_hidePassword(hidePassword)
{}

void CliNotifier::drain()
{
    for (const core::QueueEvent &event : m_events.takeAll()) {
        if (const auto *line = std::get_if<core::LogLineEvent>(&event)) {
            printLogLine(*line);
        } else if (const auto *change = std::get_if<core::ItemChangedEvent>(&event)) {
            if (change->itemId != 0)
                onItemChanged(change->itemId, change->item, change->postedAt);
        } else if (const auto *progress = std::get_if<core::ProgressEvent>(&event)) {
            // A transfer's clock starts with its first report, not with the newest that stands for it.
            onItemChanged(progress->itemId, progress->item, progress->since);
        }
    }
}

void CliNotifier::onItemChanged(
    std::int32_t id, const std::optional<core::QueueItem> &item, core::EventClock::time_point at)
{
    if (!item)
        return;
    m_savedFiles.onItemChanged(id, *item, at);
    if (!item->isInProgress() && !item->isDone() && engine::isHostKeyRefusal(item->statusDetail))
        m_hostKeyRefused = true;
    if (!item->isInProgress() && !item->isDone()
        && !engine::keyPathOfPassphraseDetail(item->statusDetail).empty())
        m_keyNeedsAgent = true;
    // Each end of an item is told once, however many changes come with it.
    if (isReportedFailure(*item) && m_reportedEnds[id] != item->ends) {
        m_reportedEnds[id] = item->ends;
        m_failureLines.push_back(failureLine(*item));
    }
    // A manual-connection request needs the window: give the session back as a temporary disconnect
    // does, so the item stays queued for the window. The job takes such an item again once its site
    // has nothing else; it is then left on offer (the job waits until it stops) instead of being
    // handed back and forth without end.
    const std::shared_ptr<engine::ConnectionLease> lease = m_leases.find(id);
    if (lease && !lease->hasEnded() && m_parked.insert(id).second && lease->take())
        lease->giveBack(static_cast<std::int32_t>(core::ItemStatus::StatusReconnectAfterTransfers));
}

void CliNotifier::printLogLine(const core::LogLineEvent &line)
{
    if (!m_verbose || line.text.empty())
        return;
    const bool maskPassword =
        line.kind == core::LogKind::Sent && m_hidePassword && line.text.starts_with("PASS ");
    // A URL in a line ("Cannot follow the redirect to ...") may carry a password as well.
    const std::string text =
        maskPassword ? std::string("PASS ********") : core::maskPasswordsInText(line.text);
    const auto threadId = static_cast<unsigned long>(line.threadId);
    std::lock_guard lock{m_outputMutex};
    if (m_timeStamp) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        std::fprintf(stderr, "[%02d:%02d:%02d %lu] %s\n", local.tm_hour, local.tm_min, local.tm_sec, threadId,
            text.c_str());
    } else {
        std::fprintf(stderr, "[%lu] %s\n", threadId, text.c_str());
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
