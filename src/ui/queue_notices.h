// SPDX-License-Identifier: MIT
// Decides when the desktop is told about the queue: an item that failed for good (once per item) and
// the queue having finished its work (once per busy spell). Fed the queue's states on the GUI thread.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace bw::ui {

struct NoticeInput
{
    std::int32_t id = 0;
    int status = 0;
    int attempts = 0;
    int retryCount = 0;
    std::string fileName;
    bool endedForGood = false; // ended by a failure that waiting cannot change
};

struct QueueNotice
{
    enum class Kind
    {
        ItemFailed,
        QueueFinished,
    };
    Kind kind = Kind::ItemFailed;
    std::int32_t id = 0;
    std::string fileName;
    int status = 0;
    // QueueFinished: items finished in the busy spell, and items left failed for good.
    int finished = 0;
    int failed = 0;
};

// A status a worker leaves after it logged why the item failed (an error, a refused login, a failed
// transfer or connection, a time-out, a missing target).
bool isLoggedFailure(int status);

// An item the scheduler will not try again by itself: a status it never picks (bad URL, too many
// connections), a failure that waiting cannot change, or a retry limit below "no limit" (9999) that its
// attempts reached.
bool hasFailedForGood(int status, int attempts, int retryCount, bool endedForGood = false);

class QueueNotices
{
public:
    // The notices this look at the queue brings; `items` is the whole queue in any order. The queue has
    // finished once nothing runs and nothing is left to run: no item waits to start or to be retried.
    std::vector<QueueNotice> update(const std::vector<NoticeInput> &items);

private:
    std::set<std::int32_t> m_announcedFailures;
    std::set<std::int32_t> m_finishedInSpell; // seen finished since the queue became busy
    bool m_wasBusy = false;
};

} // namespace bw::ui
