// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/queue_item.h"

namespace bw::core {
namespace {

using enum ItemStatus;

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
        {0, "Unknown", false, false, true},
        {1, "Idle", false, false, true},
        {2, "Finished", true, false, false},
        {3, "Error", false, false, true},
        {4, "Transfer failed", false, false, true},
        {5, "Timeout", false, false, true},
        {6, "Probable ratio site.  May need to upload.", false, false, true},
        {7, "Missing target", false, false, true},
        {8, "Queued for removal", true, false, false},
        {9, "Too many connections", false, false, false},
        {10, "Probable ratio site.  Ready to recheck.", false, false, true},
        {11, "Bad URL", false, false, false},
        {12, "Failed manual connection", false, false, true},
        {13, "Manual connection complete", true, false, false},
        {14, "Failed to connect", false, false, true},
        {15, "Invalid user", false, false, true},
        {16, "Invalid password", false, false, true},
        {17, "Manually reconnect after transfers", false, false, true},
        {18, "", false, false, true},
        {128, "", false, false, true},
        {129, "Active", false, true, false},
        {130, "Connecting", false, true, false},
        {131, "Searching", false, true, false},
        {132, "Transferring", false, true, false},
        {133, "Inactive manual connection", false, true, false},
        {134, "", false, true, false},
        {135, "Active manual connection", false, true, false},
        {136, "Probable ratio site.  May need to upload.", false, true, false},
        {200, "", false, true, false},
        {-1, "", false, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        const ItemStatus status{c.status};
        EXPECT_EQ(statusText(status), c.text);
        EXPECT_EQ(isDoneStatus(status), c.done);
        EXPECT_EQ(isInProgressStatus(status), c.inProgress);
        EXPECT_EQ(isEligibleStatus(status), c.eligible);
    }
}

// Other programs and files know the statuses by number: the names must keep them.
TEST(QueueItemTest, StatusNumbersAreFixed)
{
    const std::pair<ItemStatus, std::int32_t> cases[] = {
        {StatusUnknown, 0},
        {StatusIdle, 1},
        {StatusFinished, 2},
        {StatusError, 3},
        {StatusTransferFailed, 4},
        {StatusTimeout, 5},
        {StatusRatioNeedsUpload, 6},
        {StatusMissingTarget, 7},
        {StatusQueuedForRemoval, 8},
        {StatusTooManyConnections, 9},
        {StatusRatioRecheck, 10},
        {StatusBadUrl, 11},
        {StatusFailedManualConnection, 12},
        {StatusManualConnectionComplete, 13},
        {StatusFailedToConnect, 14},
        {StatusInvalidUser, 15},
        {StatusInvalidPassword, 16},
        {StatusReconnectAfterTransfers, 17},
        {StatusActive, 129},
        {StatusConnecting, 130},
        {StatusSearching, 131},
        {StatusTransferring, 132},
        {StatusInactiveManualConnection, 133},
        {StatusActiveManualConnection, 135},
        {StatusRatioActive, 136},
    };
    for (const auto &[status, number] : cases)
        EXPECT_EQ(static_cast<std::int32_t>(status), number) << statusText(status);
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

TEST(QueueItemTest, InheritsSettings)
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

    QueueItem copy = parent;
    EXPECT_EQ(copy.retryTime, 7);
}

} // namespace
} // namespace bw::core
