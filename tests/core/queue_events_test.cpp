// SPDX-License-Identifier: MIT
// The queue's typed events: posted without waiting, drained in order, progress coalesced per item,
// changes and save requests all kept, and sound with many posting threads.
#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/queue_events.h"
#include "core/queue_list.h"
#include "platform/thread_util.h"

namespace bw::core {
namespace {

class QueueEventsTest : public ::testing::Test
{
protected:
    QueueEventsTest() { queue.setNotifier(&events); }

    ~QueueEventsTest() override { queue.setNotifier(nullptr); }

    std::int32_t add(const std::string &name) { return queue.addItem("ftp://h/" + name, "/tmp/" + name); }

    QueueList queue;
    QueueEvents events{queue};
};

// What a drained event says, in one line: kind, item or text, and the copy's bytes.
std::string describe(const QueueEvent &event)
{
    if (const auto *line = std::get_if<LogLineEvent>(&event))
        return "log " + std::to_string(logMessageOf(line->kind)) + " " + line->text;
    if (const auto *change = std::get_if<ItemChangedEvent>(&event))
        return "changed " + std::to_string(change->itemId) + (change->mustSave ? " save" : "")
            + (change->item ? " " + std::to_string(change->item->bytesDone) : "");
    const auto &progress = std::get<ProgressEvent>(event);
    return "progress " + std::to_string(progress.itemId) + " "
        + (progress.item ? std::to_string(progress.item->bytesDone) : "gone");
}

TEST_F(QueueEventsTest, TheQueuesCallsBecomeTypedEventsInPostingOrder)
{
    const std::int32_t a = add("a");
    const std::int32_t b = add("b");
    queue.notifyLogSent("RETR a");
    queue.setProgress(a, 100, 1000);
    queue.notifyLogReceived("150 Opening \xc3\xa9t\xc3\xa9");
    queue.setProgress(b, 7, 1000);
    queue.notifyQueueChanged(false, a); // kept, with the copy of this moment
    queue.setProgress(a, 400, 1000); // replaces the first report of `a`, behind the change
    queue.notifyLogStatus("");
    queue.notifyQueueChanged(true, 0);
    queue.removeItem(b);
    queue.notifyQueueChanged(true, b);

    const std::vector<std::string> expected{
        "log 1040 RETR a", "log 1041 150 Opening \xc3\xa9t\xc3\xa9", "progress " + std::to_string(b) + " 7",
        "changed " + std::to_string(a) + " 100", "progress " + std::to_string(a) + " 400", "log 1042 ",
        "changed 0 save",
        "changed " + std::to_string(b) + " save", // gone: no copy
    };
    const std::vector<QueueEvent> drained = events.takeAll();
    std::vector<std::string> described;
    for (const QueueEvent &event : drained)
        described.push_back(describe(event));
    EXPECT_EQ(described, expected);
    EXPECT_EQ(std::get<LogLineEvent>(drained[0]).threadId, platform::currentThreadId());
    // The coalesced report keeps the time of the first one it stands for.
    const auto &coalesced = std::get<ProgressEvent>(drained[4]);
    EXPECT_LT(coalesced.since, coalesced.postedAt);
    EXPECT_TRUE(events.takeAll().empty());
}

TEST_F(QueueEventsTest, WakesOncePerBatchAndDropsEverythingOnceClosed)
{
    int wakes = 0;
    queue.notifyLogStatus("before the receiver"); // waits: setting the callback wakes at once
    events.setWakeCallback([&] { ++wakes; });
    EXPECT_EQ(wakes, 1);
    const std::int32_t id = add("a");
    queue.setProgress(id, 1, 2);
    queue.notifyQueueChanged(true, id);
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(events.takeAll().size(), 3u);
    queue.notifyLogStatus("next batch");
    EXPECT_EQ(wakes, 2);

    events.close();
    EXPECT_TRUE(events.isClosed());
    queue.notifyLogStatus("after the close");
    queue.setProgress(id, 2, 2);
    queue.notifyQueueChanged(true, id);
    EXPECT_TRUE(events.takeAll().empty());
    EXPECT_EQ(wakes, 2);
    events.setWakeCallback(nullptr);
}

// Several workers post while the receiver drains: each one's lines arrive whole and in order, every
// change arrives, and no older copy of an item follows a newer one.
TEST_F(QueueEventsTest, ManyPostingThreadsLoseNothing)
{
    constexpr int kThreads = 6;
    constexpr int kRounds = 400;
    std::vector<std::int32_t> ids;
    for (int t = 0; t < kThreads; ++t)
        ids.push_back(add("f" + std::to_string(t)));
    std::atomic<int> running{kThreads};
    std::vector<QueueEvent> drained;
    std::thread receiver([&] {
        for (bool last = false; !last;) {
            last = running.load() == 0; // one more drain after the workers ended
            for (QueueEvent &event : events.takeAll())
                drained.push_back(std::move(event));
        }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 1; round <= kRounds; ++round) {
                queue.notifyLogStatus(std::to_string(t) + ":" + std::to_string(round));
                queue.setProgress(ids[t], round, kRounds);
                if (round % 50 == 0)
                    queue.notifyQueueChanged(true, ids[t]);
            }
            running.fetch_sub(1);
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    receiver.join();

    std::map<std::string, int> lastRound; // by thread
    std::map<std::int32_t, std::int64_t> lastBytes; // by item
    std::map<std::int32_t, int> saves; // by item
    for (const QueueEvent &event : drained) {
        if (const auto *line = std::get_if<LogLineEvent>(&event)) {
            const std::size_t colon = line->text.find(':');
            int &last = lastRound[line->text.substr(0, colon)];
            EXPECT_EQ(std::stoi(line->text.substr(colon + 1)), last + 1) << line->text;
            last += 1;
            continue;
        }
        const auto *change = std::get_if<ItemChangedEvent>(&event);
        const auto &item = change ? change->item : std::get<ProgressEvent>(event).item;
        EXPECT_GE(item->bytesDone, lastBytes[item->id]);
        lastBytes[item->id] = item->bytesDone;
        saves[item->id] += change && change->mustSave ? 1 : 0;
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(lastRound[std::to_string(t)], kRounds);
        EXPECT_EQ(lastBytes[ids[t]], kRounds);
        EXPECT_EQ(saves[ids[t]], kRounds / 50);
    }
}

} // namespace
} // namespace bw::core
