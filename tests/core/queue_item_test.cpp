// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/queue_item.h"

namespace bw::core {
namespace {

TEST(QueueItemTest, StatusTextsAndClasses)
{
    struct Case
    {
        std::int32_t status;
        const char *text;
        bool done;
        bool inProgress;
        bool eligible;
    };

    const Case cases[] = {
        {StatusUnknown, "Unknown", false, false, true},
        {StatusIdle, "Idle", false, false, true},
        {StatusFinished, "Finished", true, false, false},
        {StatusError, "Error", false, false, true},
        {StatusTransferFailed, "Transfer failed", false, false, true},
        {StatusTimeout, "Timeout", false, false, true},
        {StatusRatioNeedsUpload, "Probable ratio site.  May need to upload.", false, false, true},
        {StatusMissingTarget, "Missing target", false, false, true},
        {StatusQueuedForRemoval, "Queued for removal", true, false, false},
        {StatusTooManyConnections, "Too many connections", false, false, false},
        {StatusRatioRecheck, "Probable ratio site.  Ready to recheck.", false, false, true},
        {StatusBadUrl, "Bad URL", false, false, false},
        {StatusFailedManualConnection, "Failed manual connection", false, false, true},
        {StatusManualConnectionComplete, "Manual connection complete", true, false, false},
        {StatusFailedToConnect, "Failed to connect", false, false, true},
        {StatusInvalidUser, "Invalid user", false, false, true},
        {StatusInvalidPassword, "Invalid password", false, false, true},
        {StatusReconnectAfterTransfers, "Manually reconnect after transfers", false, false, true},
        {18, "", false, false, true},
        {128, "", false, false, true},
        {StatusActive, "Active", false, true, false},
        {StatusConnecting, "Connecting", false, true, false},
        {StatusSearching, "Searching", false, true, false},
        {StatusTransferring, "Transferring", false, true, false},
        {StatusInactiveManualConnection, "Inactive manual connection", false, true, false},
        {134, "", false, true, false},
        {StatusActiveManualConnection, "Active manual connection", false, true, false},
        {StatusRatioActive, "Probable ratio site.  May need to upload.", false, true, false},
        {200, "", false, true, false},
        {-1, "", false, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(statusText(c.status), c.text);
        EXPECT_EQ(isDoneStatus(c.status), c.done);
        EXPECT_EQ(isInProgressStatus(c.status), c.inProgress);
        EXPECT_EQ(isEligibleStatus(c.status), c.eligible);
    }
}

TEST(QueueItemTest, FreshItemDefaults)
{
    QueueItem item;
    EXPECT_EQ(statusText(item.status), "Idle");
    EXPECT_EQ(item.retryCount, 10);
    EXPECT_EQ(item.timeout, 30);
    EXPECT_EQ(item.retryTime, 0);
    EXPECT_FALSE(item.passive);
    EXPECT_TRUE(item.automatic);
    EXPECT_EQ(item.statusTime, -1);
    EXPECT_TRUE(item.retryDelayPassed(0));
}

TEST(QueueItemTest, SetUrlTakesPartsOrNothing)
{
    QueueItem item;
    ASSERT_TRUE(item.setUrl("ftp://u:p@h:2121/d/f.bin", "/dl/f.bin"));
    EXPECT_EQ(item.host, "h");
    EXPECT_EQ(item.port, 2121);
    EXPECT_EQ(item.user, "u");
    EXPECT_EQ(item.password, "p");
    EXPECT_EQ(item.path, "/d/");
    EXPECT_EQ(item.fileName, "f.bin");
    EXPECT_EQ(item.scheme, SchemeFtp);
    EXPECT_EQ(item.url, "ftp://u:p@h:2121/d/f.bin");
    EXPECT_EQ(item.localPath, "/dl/f.bin");
    EXPECT_TRUE(item.automatic);

    const QueueItem before = item;
    EXPECT_FALSE(item.setUrl("nonsense", ""));
    EXPECT_EQ(item.url, before.url);
    EXPECT_EQ(item.host, before.host);
    EXPECT_EQ(item.localPath, before.localPath);
    EXPECT_TRUE(item.automatic);

    // An empty local path makes a manual-connection request, and stays one.
    ASSERT_TRUE(item.setUrl("ftp://h", ""));
    EXPECT_FALSE(item.automatic);
    ASSERT_TRUE(item.setUrl("ftp://h/f", "/x/f"));
    EXPECT_FALSE(item.automatic);
}

TEST(QueueItemTest, RetryDelayPassesStrictlyAfterRetryTime)
{
    QueueItem item;
    item.retryTime = 30;
    item.setStatus(StatusError, 1000);
    EXPECT_EQ(item.statusTime, 1000);
    EXPECT_FALSE(item.retryDelayPassed(1010));
    EXPECT_FALSE(item.retryDelayPassed(1030));
    EXPECT_TRUE(item.retryDelayPassed(1031));

    // setActive does not stamp the time.
    item.setActive();
    EXPECT_EQ(item.status, StatusActive);
    EXPECT_EQ(item.statusTime, 1000);
}

TEST(QueueItemTest, ProgressRateUsesWholeSecondsAndLargeSizes)
{
    QueueItem item;
    item.transferStarted(5000);
    EXPECT_TRUE(item.transferring);
    EXPECT_EQ(item.status, StatusTransferring);

    item.setProgress(3'000'000, 10'000'000, 5000);
    EXPECT_EQ(item.rateKBps, 0);
    item.setProgress(3'000'000, 10'000'000, 5010);
    EXPECT_EQ(item.rateKBps, 300);
    EXPECT_EQ(item.bytesDone, 3'000'000);
    EXPECT_EQ(item.totalSize, 10'000'000);

    // Files past 4 GB keep their sizes and a sensible rate.
    const std::int64_t big = 6'000'000'000;
    item.setProgress(big, 2 * big, 5000 + 1000);
    EXPECT_EQ(item.bytesDone, big);
    EXPECT_EQ(item.totalSize, 2 * big);
    EXPECT_EQ(item.rateKBps, 6000);
}

TEST(QueueItemTest, TransferEndRespectsRemoval)
{
    QueueItem item;
    item.transferStarted(1);
    item.transferEnded();
    EXPECT_FALSE(item.transferring);
    EXPECT_EQ(statusText(item.status), "Active");

    item.transferStarted(2);
    item.abortRequested = true;
    item.removeWhenDone = true;
    item.transferEnded();
    EXPECT_EQ(statusText(item.status), "Queued for removal");

    // A status other than Transferring is left alone.
    QueueItem other;
    other.status = StatusRatioActive;
    other.transferEnded();
    EXPECT_EQ(other.status, StatusRatioActive);
}

TEST(QueueItemTest, LendingAConnectionMarksTheItem)
{
    QueueItem item;
    item.status = StatusSearching;
    auto *connection = reinterpret_cast<net::FtpConnection *>(&item);
    item.lendConnection(connection);
    EXPECT_EQ(item.manualConnection, connection);
    EXPECT_EQ(item.status, StatusInactiveManualConnection);
    item.status = StatusReconnectAfterTransfers;
    item.lendConnection(nullptr);
    EXPECT_EQ(item.manualConnection, nullptr);
    EXPECT_EQ(item.status, StatusReconnectAfterTransfers);
}

TEST(QueueItemTest, InheritsSettingsAndCopiesWithoutScratch)
{
    QueueItem parent;
    parent.retryTime = 7;
    parent.retryCount = 3;
    parent.timeout = 99;
    parent.passive = true;
    parent.reservedFlag = true;
    parent.attempts = 4;
    QueueItem child;
    child.inheritSettings(parent);
    EXPECT_EQ(child.retryTime, 7);
    EXPECT_EQ(child.retryCount, 3);
    EXPECT_EQ(child.timeout, 99);
    EXPECT_TRUE(child.passive);
    EXPECT_TRUE(child.reservedFlag);
    EXPECT_EQ(child.attempts, 4);

    parent.scratch.siteReadyKnown = true;
    parent.scratch.siteReady = true;
    QueueItem copy = parent;
    EXPECT_FALSE(copy.scratch.siteReadyKnown);
    EXPECT_FALSE(copy.scratch.siteReady);
    EXPECT_EQ(copy.retryTime, 7);
    child = parent;
    EXPECT_FALSE(child.scratch.siteReadyKnown);
    parent.scratch.clear();
    EXPECT_FALSE(parent.scratch.siteReadyKnown);
    EXPECT_FALSE(parent.scratch.siteReady);
}

} // namespace
} // namespace bw::core
