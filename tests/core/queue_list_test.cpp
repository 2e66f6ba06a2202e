// SPDX-License-Identifier: MIT
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/queue_list.h"
#include "platform/thread_util.h"
#include "support/wait_until.h"

namespace bw::core {
namespace {

using namespace std::chrono_literals;
using enum ItemStatus;

class QueueListTest : public ::testing::Test
{
protected:
    // A worker without a connection yet.
    Selection fresh() { return queue.selectNext("", 0, "", false); }

    // A worker connected to `host` as anonymous on port 21.
    Selection continueOn(const std::string &host) { return queue.selectNext(host, 21, kAnonymousUser, true); }

    std::int32_t add(const std::string &url, const std::string &local = "/dl/x")
    {
        std::int32_t id = queue.addItem(url, local);
        EXPECT_NE(id, 0) << url;
        return id;
    }

    // The item as the queue holds it, or what an unknown id reads as.
    QueueItem item(std::int32_t id) const { return snapshotOrVanished(queue, id); }

    void setPerSiteLimit(std::int32_t limit)
    {
        QueueDefaults defaults = queue.defaults();
        defaults.perSiteLimit = limit;
        queue.setDefaults(defaults);
    }

    void setRetryTimeDefault(std::int32_t seconds)
    {
        QueueDefaults defaults = queue.defaults();
        defaults.retryTime = seconds;
        queue.setDefaults(defaults);
    }

    platform::ManualClock clock{1'000'000};
    QueueList queue{clock};
};

TEST_F(QueueListTest, ConstructorDefaults)
{
    const QueueDefaults expected{30, 1, 30, 10, false};
    EXPECT_EQ(queue.defaults(), expected);
    queue.setDefaults({5, 0, 60, 3, true});
    const QueueDefaults changed = queue.defaults();
    EXPECT_EQ(changed.retryTime, 5);
    EXPECT_EQ(changed.perSiteLimit, 0);
    EXPECT_EQ(changed.timeout, 60);
    EXPECT_EQ(changed.retryCount, 3);
    EXPECT_TRUE(changed.passive);
}

TEST_F(QueueListTest, ResetForRetryMakesAFailedItemNewAgainButLeavesHeldAndDoneOnes)
{
    setRetryTimeDefault(30);
    const auto failed = add("https://a.example/f");
    ASSERT_TRUE(fresh().found);
    queue.finishItem(failed, StatusError);
    queue.setStatusDetail(failed, "Certificate verification failed: self-signed certificate");
    EXPECT_FALSE(fresh().found); // resting: its retry time has not passed
    EXPECT_TRUE(queue.resetForRetry(failed));
    EXPECT_EQ(item(failed).status, StatusIdle);
    EXPECT_EQ(item(failed).attempts, 0);
    EXPECT_EQ(item(failed).statusDetail, "");
    const Selection again = fresh(); // taken at once, without the rest
    EXPECT_TRUE(again.found);
    EXPECT_EQ(again.id, failed);

    EXPECT_FALSE(queue.resetForRetry(failed)); // a worker holds it now
    EXPECT_EQ(item(failed).status, StatusActive);
    queue.finishItem(failed, StatusFinished);
    EXPECT_FALSE(queue.resetForRetry(failed));
    EXPECT_EQ(item(failed).status, StatusFinished);
    EXPECT_FALSE(queue.resetForRetry(9999));
}

TEST_F(QueueListTest, AddTakesDefaultsOrExplicitValues)
{
    queue.setDefaults({12, 1, 45, 4, true});
    std::int32_t byDefault = queue.addItem("ftp://h/a", "/a");
    std::int32_t explicitOnes = queue.addItem("ftp://h/b", "/b", 0, 1, 2, 3, 0);
    std::int32_t passiveOn = queue.addItem("ftp://h/c", "/c", 0, -1, -1, -1, 7);
    ASSERT_NE(byDefault, 0);
    EXPECT_NE(byDefault, explicitOnes);
    EXPECT_EQ(item(byDefault).retryTime, 12);
    EXPECT_EQ(item(byDefault).retryCount, 4);
    EXPECT_EQ(item(byDefault).timeout, 45);
    EXPECT_TRUE(item(byDefault).passive);
    EXPECT_EQ(item(explicitOnes).retryTime, 1);
    EXPECT_EQ(item(explicitOnes).retryCount, 2);
    EXPECT_EQ(item(explicitOnes).timeout, 3);
    EXPECT_FALSE(item(explicitOnes).passive);
    EXPECT_TRUE(item(passiveOn).passive);
    EXPECT_EQ(item(byDefault).status, StatusIdle);
    EXPECT_TRUE(item(byDefault).automatic);

    EXPECT_EQ(queue.addItem("not a url", "/x"), 0);
    EXPECT_EQ(queue.addItem("ftp://user@", "/x"), 0);
    EXPECT_EQ(queue.count(), 3u);

    std::int32_t manual = queue.addItem("ftp://u:p@h:21", "");
    EXPECT_FALSE(item(manual).automatic);
}

TEST_F(QueueListTest, AddWithParentInheritsWhateverWasPassed)
{
    std::int32_t parent = queue.addItem("ftp://h/dir/", "/dl/dir", 0, 7, 3, 99, 1);
    queue.setAttempts(parent, 4);
    std::int32_t child = queue.addItem("ftp://h/dir/f", "/dl/dir/f", parent, 100, 200, 300, 0);
    EXPECT_EQ(item(child).retryTime, 7);
    EXPECT_EQ(item(child).retryCount, 3);
    EXPECT_EQ(item(child).timeout, 99);
    EXPECT_TRUE(item(child).passive);
    EXPECT_EQ(item(child).attempts, 4);

    // An unknown parent leaves the values passed.
    std::int32_t orphan = queue.addItem("ftp://h/g", "/g", 987654321, 100, 200, 300, 0);
    EXPECT_EQ(item(orphan).retryTime, 100);
    EXPECT_EQ(item(orphan).attempts, 0);
}

TEST_F(QueueListTest, UnknownIdsGiveNeutralValues)
{
    queue.setDefaults({11, 1, 22, 33, true});
    const std::int32_t missing = 999'999;
    EXPECT_FALSE(queue.contains(missing));
    EXPECT_FALSE(queue.contains(0));
    EXPECT_FALSE(queue.isDone(missing));
    EXPECT_EQ(item(missing).host, "");
    EXPECT_EQ(item(missing).url, "");
    EXPECT_EQ(item(missing).localPath, "");
    EXPECT_EQ(item(missing).port, 0);
    EXPECT_EQ(item(missing).scheme, SchemeNone);
    EXPECT_EQ(item(missing).bytesDone, 0);
    EXPECT_EQ(item(missing).status, StatusUnknown);
    EXPECT_EQ(item(missing).retryTime, 11);
    EXPECT_EQ(item(missing).timeout, 22);
    EXPECT_EQ(item(missing).retryCount, 33);
    EXPECT_TRUE(item(missing).passive);
    EXPECT_FALSE(item(missing).automatic);
    EXPECT_TRUE(item(missing).abortRequested);
    EXPECT_FALSE(queue.snapshot(missing).has_value());
    EXPECT_FALSE(queue.setUrl(missing, "ftp://h/f"));
    queue.finishItem(missing, StatusFinished);
    queue.setStatus(missing, StatusError);
    EXPECT_EQ(queue.count(), 0u);
}

TEST_F(QueueListTest, SetUrlByIdKeepsLocalPathAndAutomatic)
{
    std::int32_t id = add("ftp://h/old", "/dl/old");
    EXPECT_FALSE(queue.setUrl(id, "garbage"));
    EXPECT_EQ(item(id).url, "ftp://h/old");
    ASSERT_TRUE(queue.setUrl(id, "http://u:p@web:8080/new/file"));
    EXPECT_EQ(item(id).url, "http://u:p@web:8080/new/file");
    EXPECT_EQ(item(id).host, "web");
    EXPECT_EQ(item(id).port, 8080);
    EXPECT_EQ(item(id).scheme, SchemeHttp);
    EXPECT_EQ(item(id).path, "/new/");
    EXPECT_EQ(item(id).fileName, "file");
    EXPECT_EQ(item(id).localPath, "/dl/old");
    EXPECT_TRUE(item(id).automatic);
}

TEST_F(QueueListTest, RemoveErasesIdleItemsAndMarksRunningOnes)
{
    std::int32_t idle = add("ftp://a/1");
    std::int32_t running = add("ftp://b/2");
    ASSERT_EQ(queue.selectNext("b", 21, kAnonymousUser, false).id, running);

    EXPECT_TRUE(queue.removeItem(idle));
    EXPECT_FALSE(queue.contains(idle));

    EXPECT_FALSE(queue.removeItem(running));
    EXPECT_TRUE(queue.contains(running));
    EXPECT_TRUE(item(running).abortRequested);
    EXPECT_TRUE(item(running).removeWhenDone);
    queue.transferStarted(running);
    queue.transferEnded(running);
    EXPECT_EQ(statusText(item(running).status), "Queued for removal");
    EXPECT_TRUE(queue.isDone(running));

    EXPECT_TRUE(queue.removeItem(running)); // no longer in progress
    EXPECT_TRUE(queue.removeItem(123'456'789));
    EXPECT_EQ(queue.count(), 0u);
}

TEST_F(QueueListTest, FinishMovesItemToTheEndKeepingTheOthersInOrder)
{
    std::vector<std::int32_t> ids;
    for (int i = 0; i < 5; ++i)
        ids.push_back(add("ftp://h/" + std::to_string(i)));
    clock.set(2'000'000);
    queue.finishItem(ids[1], StatusError);
    EXPECT_EQ(queue.ids(), (std::vector<std::int32_t>{ids[0], ids[2], ids[3], ids[4], ids[1]}));
    EXPECT_EQ(item(ids[1]).status, StatusError);
    EXPECT_EQ(queue.snapshot(ids[1])->statusTime, 2'000'000);
    queue.finishItem(ids[0], StatusFinished);
    EXPECT_EQ(queue.ids(), (std::vector<std::int32_t>{ids[2], ids[3], ids[4], ids[1], ids[0]}));
    EXPECT_TRUE(queue.isDone(ids[0]));
}

TEST_F(QueueListTest, SiteLimitOneLetsOnlyTheConnectedWorkerContinue)
{
    std::int32_t a1 = add("ftp://a/1");
    std::int32_t a2 = add("ftp://a/2");
    std::int32_t b1 = add("ftp://b/1");

    Selection first = fresh();
    ASSERT_TRUE(first.found);
    EXPECT_EQ(first.id, a1);
    EXPECT_EQ(first.host, "a");
    EXPECT_EQ(first.port, 21);
    EXPECT_EQ(first.user, kAnonymousUser);
    EXPECT_EQ(first.password, kDefaultAnonymousPassword);
    EXPECT_EQ(item(a1).status, StatusActive);

    EXPECT_TRUE(queue.anyEligible()); // b1
    EXPECT_EQ(fresh().id, b1);
    EXPECT_FALSE(queue.anyEligible()); // a2 waits for site a's single slot
    EXPECT_FALSE(fresh().found);

    // The worker on site a still counts its own item and goes on with the next one.
    Selection next = continueOn("a");
    EXPECT_EQ(next.id, a2);
}

TEST_F(QueueListTest, SiteLimitZeroNeverBlocks)
{
    setPerSiteLimit(0);
    std::set<std::int32_t> added;
    for (int i = 0; i < 4; ++i)
        added.insert(add("ftp://a/" + std::to_string(i)));
    std::set<std::int32_t> taken;
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(queue.anyEligible());
        Selection s = fresh();
        ASSERT_TRUE(s.found);
        taken.insert(s.id);
    }
    EXPECT_EQ(taken, added);
    EXPECT_FALSE(queue.anyEligible());
}

TEST_F(QueueListTest, SiteLimitTwoCountsWorkersOnTheSite)
{
    setPerSiteLimit(2);
    for (int i = 0; i < 4; ++i)
        add("ftp://a/" + std::to_string(i));
    EXPECT_TRUE(fresh().found);
    EXPECT_TRUE(fresh().found);
    EXPECT_FALSE(queue.anyEligible());
    EXPECT_FALSE(fresh().found);
    EXPECT_TRUE(continueOn("a").found); // 2 in progress, not more than 2
    EXPECT_FALSE(continueOn("a").found); // 3 in progress now
}

TEST_F(QueueListTest, RestingSiteBlocksNewWorkersButNotTheConnectedOne)
{
    setRetryTimeDefault(30);
    std::int32_t a1 = add("ftp://a/1");
    std::int32_t a2 = add("ftp://a/2");
    std::int32_t a3 = add("ftp://a/3");
    std::int32_t b1 = add("ftp://b/1");
    ASSERT_EQ(fresh().id, a1);
    queue.finishItem(a1, StatusTransferFailed); // list: a2 a3 b1 a1
    clock.advance(10);

    // No item of site a may start a new worker for 20 more seconds, wherever it stands in the list.
    EXPECT_TRUE(queue.anyEligible());
    EXPECT_EQ(fresh().id, b1);
    EXPECT_FALSE(queue.anyEligible());
    EXPECT_FALSE(fresh().found);

    // The worker still connected to site a goes on at once.
    EXPECT_EQ(continueOn("a").id, a2);
    queue.finishItem(a2, StatusFinished);
    clock.advance(25); // a1 rested 35 s, a2 only 25 s
    EXPECT_FALSE(queue.anyEligible());
    clock.advance(6);
    EXPECT_TRUE(queue.anyEligible());
    Selection s = fresh();
    EXPECT_TRUE(s.id == a3 || s.id == a1) << s.id;
}

TEST_F(QueueListTest, RestTimeIsStrictlyLongerThanRetryTime)
{
    setRetryTimeDefault(30);
    std::int32_t a1 = add("ftp://a/1");
    ASSERT_EQ(fresh().id, a1);
    queue.finishItem(a1, StatusError);
    clock.advance(30);
    EXPECT_FALSE(queue.anyEligible());
    clock.advance(1);
    EXPECT_TRUE(queue.anyEligible());
    EXPECT_EQ(fresh().id, a1);
}

// A runner that gives up after so many tries: ends are counted one by one, however many fall in one
// second, and an item that used up its tries is taken no more.
TEST_F(QueueListTest, ATryLimitStopsTakingAnItemThatEndedThatOften)
{
    setRetryTimeDefault(-1);

    struct Case
    {
        const char *name;
        std::int32_t limit;
        int takes;
    };

    for (const Case c : {Case{"no limit", -1, 5}, Case{"three tries", 3, 3}, Case{"its retry count", 0, 2}}) {
        SCOPED_TRACE(c.name);
        queue.setTryLimit(c.limit);
        const std::int32_t id = add("ftp://a/1");
        queue.setRetryCount(id, 2);
        int takes = 0;
        // Every end falls in the same second of the clock.
        while (takes < 5) {
            const Selection s = fresh();
            if (!s.found)
                break;
            ASSERT_EQ(s.id, id);
            ++takes;
            queue.finishItem(id, StatusTransferFailed);
        }
        EXPECT_EQ(takes, c.takes);
        EXPECT_EQ(core::snapshotOrVanished(queue, id).ends, takes);
        EXPECT_EQ(queue.anyEligible(), c.limit == -1);
        queue.removeItem(id);
    }
}

// Failures that waiting cannot change end the item at once; a refused login is tried once more, so a
// server's guard against password guessing never locks the user out. Retrying by hand starts afresh.
TEST_F(QueueListTest, FailuresThatWaitingCannotChangeAreNotRetried)
{
    setRetryTimeDefault(0);

    using End = std::pair<ItemStatus, bool>; // the status, and whether waiting cannot change it

    struct Case
    {
        const char *name;
        std::vector<End> ends;
        bool retried;
    };

    const Case cases[] = {
        {"a plain failure is retried", {{StatusTransferFailed, false}}, true},
        {"a refused certificate is not", {{StatusError, true}}, false},
        {"a refused login is tried once more", {{StatusInvalidPassword, false}}, true},
        {"a second refused login in a row ends it",
            {{StatusInvalidUser, false}, {StatusInvalidPassword, false}}, false},
        {"another failure between two refusals starts the count again",
            {{StatusInvalidPassword, false}, {StatusFailedToConnect, false}, {StatusInvalidPassword, false}},
            true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::int32_t id = add("ftp://a/1");
        for (const auto &[status, forGood] : c.ends) {
            ASSERT_EQ(fresh().id, id);
            queue.finishItem(id, status, forGood);
            clock.advance(1);
        }
        EXPECT_EQ(queue.anyEligible(), c.retried);
        EXPECT_EQ(queue.states().back().endedForGood, !c.retried);
        ASSERT_TRUE(queue.resetForRetry(id));
        EXPECT_EQ(fresh().id, id);
        queue.finishItem(id, StatusFinished);
        queue.removeItem(id);
    }
}

// The user's stop is no failure: the item waits where it stood, is taken again at once, and the
// attempt its login counted is given back.
TEST_F(QueueListTest, AStoppedItemGoesAgainAtOnceWithoutUsingAnAttempt)
{
    setRetryTimeDefault(30);
    const std::int32_t first = add("ftp://a/1");
    const std::int32_t second = add("ftp://a/2");
    ASSERT_EQ(fresh().id, first);
    queue.stopItem(first);
    EXPECT_EQ(item(first).status, StatusIdle);
    EXPECT_TRUE(item(first).stoppedByUser);
    EXPECT_EQ(item(first).attempts, 0);
    EXPECT_EQ(item(second).attempts, 0);
    EXPECT_EQ(queue.ids().front(), first);
    EXPECT_EQ(fresh().id, first);
    EXPECT_FALSE(item(first).stoppedByUser);
}

// The scheduler plans its next pass for the moment a resting site with work left is ready again.
TEST_F(QueueListTest, NextRestEndIsWhenTheLastItemOfAWaitingSiteHasRested)
{
    setRetryTimeDefault(10);
    EXPECT_FALSE(queue.nextRestEnd());
    const std::int32_t a1 = add("ftp://a/1");
    const std::int32_t a2 = add("ftp://a/2");
    const std::int32_t b1 = add("ftp://b/1");
    const std::int64_t start = clock.nowSeconds();
    queue.finishItem(a1, StatusTransferFailed);
    clock.advance(3);
    queue.finishItem(a2, StatusFinished);
    // Site a has a1 left and is ready once a2, too, rested longer than 10 s.
    EXPECT_EQ(queue.nextRestEnd(), start + 3 + 11);
    queue.finishItem(b1, StatusFinished);
    // Site b has no work left: its rest matters to nobody.
    EXPECT_EQ(queue.nextRestEnd(), start + 3 + 11);
    clock.advance(11);
    EXPECT_FALSE(queue.nextRestEnd()) << "a is ready now";
    EXPECT_TRUE(queue.anyEligible());
}

TEST_F(QueueListTest, ManualRequestsFirstAndParkedReconnectsLast)
{
    std::int32_t ordinary = add("ftp://a/file");
    std::int32_t manual = add("ftp://a", "");
    std::int32_t parked = add("ftp://a/", "");
    queue.setStatus(parked, StatusReconnectAfterTransfers);
    // Make the worker "connected" to a with some other item of its own still running.
    std::int32_t own = add("ftp://a/own");
    queue.setStatus(own, StatusActive);
    setPerSiteLimit(0);

    EXPECT_EQ(continueOn("a").id, manual);
    EXPECT_EQ(continueOn("a").id, ordinary);
    EXPECT_EQ(continueOn("a").id, parked);
    EXPECT_FALSE(continueOn("a").found);
}

TEST_F(QueueListTest, NewWorkerTakesAManualRequestOfAnotherSiteFirst)
{
    std::int32_t ordinary = add("ftp://b/file");
    std::int32_t manual = add("ftp://c", "");
    EXPECT_EQ(fresh().id, manual);
    EXPECT_EQ(fresh().id, ordinary);
}

TEST_F(QueueListTest, RatioSitePrefersAnUpload)
{
    setPerSiteLimit(0);
    std::int32_t refused = add("ftp://a/d1");
    std::int32_t download = add("ftp://a/d2");
    std::int32_t upload = add("ftpu://a/in/u1", "/home/u/u1");
    queue.setStatus(refused, StatusRatioNeedsUpload);

    EXPECT_EQ(continueOn("a").id, upload);
    EXPECT_EQ(continueOn("a").id, download);
    // The refused download is never retried on its own site.
    EXPECT_FALSE(continueOn("a").found);

    // A successful upload makes it worth another try.
    queue.markRatioRecheck("a", 21, kAnonymousUser);
    EXPECT_EQ(item(refused).status, StatusRatioRecheck);
    EXPECT_EQ(continueOn("a").id, refused);
}

TEST_F(QueueListTest, WithoutRatioSignsTheFirstItemWins)
{
    std::int32_t download = add("ftp://a/d2");
    add("ftpu://a/in/u1", "/home/u/u1");
    EXPECT_EQ(continueOn("a").id, download);
}

TEST_F(QueueListTest, MarkRatioRecheckTouchesOnlyThatSite)
{
    std::int32_t here = add("ftp://a/x");
    std::int32_t otherUser = add("ftp://bob@a/x");
    std::int32_t otherPort = add("ftp://a:2121/x");
    for (std::int32_t id : {here, otherUser, otherPort})
        queue.setStatus(id, StatusRatioNeedsUpload);
    queue.markRatioRecheck("a", 21, kAnonymousUser);
    EXPECT_EQ(item(here).status, StatusRatioRecheck);
    EXPECT_EQ(item(otherUser).status, StatusRatioNeedsUpload);
    EXPECT_EQ(item(otherPort).status, StatusRatioNeedsUpload);
}

TEST_F(QueueListTest, NotEligibleItemsAreNeverChosen)
{
    for (ItemStatus status : {StatusFinished, StatusQueuedForRemoval, StatusManualConnectionComplete,
             StatusBadUrl, StatusTooManyConnections, StatusActive, StatusRatioActive}) {
        std::int32_t id = add("ftp://s" + std::to_string(static_cast<int>(status)) + "/f");
        queue.setStatus(id, status);
    }
    setPerSiteLimit(0);
    EXPECT_FALSE(queue.anyEligible());
    EXPECT_FALSE(fresh().found);
}

TEST_F(QueueListTest, NewLoginCountsAnAttemptOnEveryItemOfTheSite)
{
    std::int32_t a1 = add("ftp://a/1");
    std::int32_t a2 = add("ftp://a/2");
    std::int32_t b1 = add("ftp://b/1");
    ASSERT_EQ(fresh().id, a1);
    EXPECT_EQ(item(a1).attempts, 1);
    EXPECT_EQ(item(a2).attempts, 1);
    EXPECT_EQ(item(b1).attempts, 0);

    // Continuing on the same login counts nothing.
    ASSERT_EQ(continueOn("a").id, a2);
    EXPECT_EQ(item(a2).attempts, 1);

    queue.setAttempts(a1, 5);
    queue.finishItem(a2, StatusError);
    queue.finishItem(a1, StatusError);
    clock.advance(100);
    ASSERT_EQ(fresh().id, b1);
    Selection again = fresh();
    ASSERT_EQ(again.id, a2);
    EXPECT_EQ(item(a1).attempts, 6);
    EXPECT_EQ(item(a2).attempts, 6);
}

TEST_F(QueueListTest, SelectionMarksAndUrlsReadInListOrder)
{
    std::int32_t a = add("ftp://h/a");
    std::int32_t b = add("ftp://h/b");
    std::int32_t c = add("ftp://h/c");
    queue.setSelected(a, true);
    queue.setSelected(c, true);
    auto selectedIds = [this] {
        std::vector<std::int32_t> ids;
        for (const QueueItem &each : queue.snapshot()) {
            if (each.selected)
                ids.push_back(each.id);
        }
        return ids;
    };
    EXPECT_EQ(selectedIds(), (std::vector<std::int32_t>{a, c}));
    std::vector<std::string> urls;
    for (const QueueItem &each : queue.snapshot())
        urls.push_back(each.url);
    EXPECT_EQ(urls, (std::vector<std::string>{"ftp://h/a", "ftp://h/b", "ftp://h/c"}));

    queue.setAllSelected(false);
    EXPECT_TRUE(selectedIds().empty());
    queue.setAllSelected(true);
    EXPECT_TRUE(item(b).selected);
    EXPECT_EQ(selectedIds(), (std::vector<std::int32_t>{a, b, c}));
}

TEST_F(QueueListTest, SelectionFollowsChangedUrlsAndForgetsRemovedSites)
{
    // Many sites come and go, so the queue numbers its sites afresh on the way.
    for (int round = 0; round < 3; ++round) {
        std::vector<std::int32_t> lone;
        for (int i = 0; i < 200; ++i)
            lone.push_back(add("ftp://lone" + std::to_string(round * 1000 + i) + "/f"));
        for (std::int32_t id : lone)
            EXPECT_TRUE(queue.removeItem(id));
    }
    std::int32_t a1 = add("ftp://a/1");
    std::int32_t b1 = add("ftp://b/1");
    std::int32_t moved = add("ftp://c/1");
    setPerSiteLimit(0);
    ASSERT_TRUE(queue.setUrl(moved, "ftp://a/2"));
    EXPECT_EQ(continueOn("b").id, b1);
    EXPECT_EQ(continueOn("a").id, a1);
    EXPECT_EQ(continueOn("a").id, moved);
    EXPECT_FALSE(continueOn("c").found);
    EXPECT_FALSE(continueOn("a").found);
}

// The window edits an item's URL and local file together: the item moves to its new site at once.
TEST_F(QueueListTest, EditingUrlAndLocalFileMovesTheItemToItsNewSite)
{
    const std::int32_t onB = add("ftp://b/x");
    ASSERT_EQ(fresh().id, onB); // site b is now at its limit of one worker
    const std::int32_t edited = add("ftp://a/y");
    ASSERT_TRUE(queue.setUrl(edited, "ftp://b/y", "/dl/y"));
    EXPECT_EQ(item(edited).host, "b");
    EXPECT_EQ(item(edited).localPath, "/dl/y");
    // Nothing is left on a, and b takes no second worker.
    EXPECT_FALSE(continueOn("a").found);
    EXPECT_FALSE(queue.anyEligible());
    // The worker already on b goes on with it.
    EXPECT_EQ(continueOn("b").id, edited);
}

TEST_F(QueueListTest, StatesMatchTheItems)
{
    std::int32_t first = add("ftp://h/1");
    std::int32_t second = add("ftp://h/2");
    queue.setRetryCount(second, 4);
    ASSERT_EQ(fresh().id, first);
    EXPECT_FALSE(queue.removeItem(first));
    clock.set(2'000'000);
    queue.finishItem(second, StatusError);
    const std::vector<ItemState> states = queue.states();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].id, first);
    EXPECT_EQ(states[0].status, StatusActive);
    EXPECT_TRUE(states[0].removeWhenDone);
    EXPECT_EQ(states[0].statusTime, -1);
    EXPECT_EQ(states[1].id, second);
    EXPECT_EQ(states[1].status, StatusError);
    EXPECT_FALSE(states[1].removeWhenDone);
    EXPECT_EQ(states[1].statusTime, 2'000'000);
    EXPECT_EQ(states[1].retryCount, 4);
}

struct Sent
{
    unsigned message;
    std::uint64_t wParam;
    std::int64_t itemId;
    std::string text;

    bool operator==(const Sent &) const = default;
};

// Records every notification, and checks from another thread that the queue is not locked meanwhile.
class RecordingNotifier final : public QueueNotifier
{
public:
    explicit RecordingNotifier(QueueList &queue)
        : m_queue(queue)
    {}

    ~RecordingNotifier() override
    {
        for (std::thread &probe : m_probes)
            probe.join();
    }

    void notify(unsigned message, std::uint64_t wParam, std::int64_t itemId, const std::string &text) override
    {
        auto reached = std::make_shared<std::atomic<bool>>(false);
        m_probes.emplace_back([this, reached] {
            (void)m_queue.count();
            *reached = true;
        });
        bool free = test::waitUntil([&] { return reached->load(); }, 5s);
        std::lock_guard lock{m_mutex};
        m_sent.push_back({message, wParam, itemId, text});
        m_lockFree = m_lockFree && free;
    }

    std::vector<Sent> sent() const
    {
        std::lock_guard lock{m_mutex};
        return m_sent;
    }

    bool lockWasFree() const
    {
        std::lock_guard lock{m_mutex};
        return m_lockFree;
    }

private:
    QueueList &m_queue;
    std::vector<std::thread> m_probes; // only the notifying thread touches it in these tests
    mutable std::mutex m_mutex;
    std::vector<Sent> m_sent; // guarded by m_mutex
    bool m_lockFree = true; // guarded by m_mutex
};

TEST_F(QueueListTest, NotificationsCarryTheRegisteredNumbersWithoutTheLock)
{
    RecordingNotifier notifier(queue);
    queue.setNotifier(&notifier);
    std::int32_t id = add("ftp://h/f");

    queue.transferStarted(id);
    queue.setProgress(id, 5000, 10000);
    queue.setProgress(999'999, 1, 2); // unknown: nothing sent
    queue.notifyLogSent("USER anonymous");
    queue.notifyLogReceived("331 Password required");
    queue.notifyLogStatus("Connecting...");
    queue.notifyQueueChanged(true, id);

    const std::uint64_t thread = platform::currentThreadId();
    const std::vector<Sent> expected{
        {0x413, 0, id, ""},
        {0x410, thread, 0, "USER anonymous"},
        {0x411, thread, 0, "331 Password required"},
        {0x412, thread, 0, "Connecting..."},
        {0x413, 1, id, ""},
    };
    EXPECT_EQ(notifier.sent(), expected);
    EXPECT_TRUE(notifier.lockWasFree());
    EXPECT_EQ(item(id).bytesDone, 5000);
    EXPECT_EQ(item(id).totalSize, 10000);

    queue.setNotifier(&notifier, 1, 2, 3, 4);
    queue.notifyLogStatus("x");
    queue.setProgress(id, 6000, 10000);
    EXPECT_EQ(notifier.sent().at(5), (Sent{3, thread, 0, "x"}));
    EXPECT_EQ(notifier.sent().at(6), (Sent{4, 0, id, ""}));

    queue.setNotifier(nullptr);
    queue.setProgress(id, 7000, 10000);
    queue.notifyLogStatus("y");
    EXPECT_EQ(notifier.sent().size(), 7u);
    EXPECT_EQ(item(id).bytesDone, 7000);
}

TEST_F(QueueListTest, IdsAreUniqueAndNeverZero)
{
    std::set<std::int32_t> seen;
    for (int i = 0; i < 50; ++i) {
        std::int32_t id = add("ftp://h/" + std::to_string(i));
        EXPECT_GT(id, 0);
        EXPECT_TRUE(seen.insert(id).second);
    }
    QueueList other{clock};
    std::int32_t elsewhere = other.addItem("ftp://h/0", "/x");
    EXPECT_FALSE(seen.count(elsewhere));
}

// Workers, the scheduler's question and a window walking the items, all at once: every item is taken
// by exactly one worker. Run under ThreadSanitizer this also proves the locking.
TEST_F(QueueListTest, ConcurrentWorkersTakeEachItemOnce)
{
    setPerSiteLimit(0);
    const int kSites = 8;
    const int kPerSite = 40;
    for (int s = 0; s < kSites; ++s)
        for (int i = 0; i < kPerSite; ++i)
            add("ftp://site" + std::to_string(s) + "/f" + std::to_string(i));

    std::mutex takenMutex;
    std::map<std::int32_t, int> taken; // guarded by takenMutex
    std::atomic<bool> workersDone{false};

    auto worker = [&] {
        std::string host;
        bool continuing = false;
        while (true) {
            Selection s = queue.selectNext(host, 21, kAnonymousUser, continuing);
            if (!s.found)
                break;
            {
                std::lock_guard lock{takenMutex};
                ++taken[s.id];
            }
            queue.transferStarted(s.id);
            queue.setProgress(s.id, 100, 200);
            queue.transferEnded(s.id);
            queue.finishItem(s.id, StatusFinished);
            host = s.host;
            continuing = true;
        }
    };
    std::thread observer([&] {
        while (!workersDone) {
            (void)queue.anyEligible();
            for (const QueueItem &each : queue.snapshot())
                (void)each.status;
            for (const ItemState &each : queue.states())
                (void)each.status;
        }
    });
    for (int round = 0; round < 20 && queue.anyEligible(); ++round) {
        std::vector<std::thread> workers;
        for (int w = 0; w < 4; ++w)
            workers.emplace_back(worker);
        for (std::thread &t : workers)
            t.join();
        clock.advance(60); // let the sites rest before the next round of fresh workers
    }
    workersDone = true;
    observer.join();

    EXPECT_EQ(taken.size(), static_cast<std::size_t>(kSites * kPerSite));
    for (const auto &[id, times] : taken)
        EXPECT_EQ(times, 1) << id;
    for (std::int32_t id : queue.ids())
        EXPECT_TRUE(queue.isDone(id));
}

TEST_F(QueueListTest, RemovingAnEndedItemEndsItsSitesRestAndSaysSo)
{
    setRetryTimeDefault(30);
    int calls = 0;
    std::int32_t a1 = add("ftp://a/1");
    std::int32_t a2 = add("ftp://a/2");
    std::int32_t b1 = add("ftp://b/1");
    queue.setWorkAddedListener([&calls] { ++calls; });
    ASSERT_EQ(fresh().id, a1);
    queue.finishItem(a1, StatusFinished);
    ASSERT_EQ(fresh().id, b1); // site a rests after its item ended
    EXPECT_FALSE(queue.anyEligible());

    // Without the ended item nothing of site a has ended: a new worker may start there, and the
    // listener (the scheduler) hears of it at once.
    EXPECT_TRUE(queue.removeItem(a1));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(queue.anyEligible());
    EXPECT_EQ(fresh().id, a2);

    // Removing an item that never ended changes no rest: nothing to say.
    std::int32_t c1 = add("ftp://c/1");
    calls = 0;
    EXPECT_TRUE(queue.removeItem(c1));
    EXPECT_EQ(calls, 0);
    queue.setWorkAddedListener(nullptr);
}

} // namespace
} // namespace bw::core
