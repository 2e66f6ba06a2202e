// SPDX-License-Identifier: MIT
#include <QTest>

#include "ui/queue_notices.h"

using namespace bw::ui;

namespace {

constexpr int kIdle = 1;
constexpr int kTransferFailed = 4;
constexpr int kBadUrl = 11;
constexpr int kFinished = 2;
constexpr int kTransferring = 132;

NoticeInput item(std::int32_t id, int status, int attempts = 0, int retryCount = 10)
{
    return {id, status, attempts, retryCount, "file" + std::to_string(id)};
}

} // namespace

class QueueNoticesTest : public QObject
{
    Q_OBJECT

private slots:

    void failedForGood_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("retryCount");
        QTest::addColumn<bool>("failed");
        QTest::newRow("bad URL is never retried") << kBadUrl << 0 << 10 << true;
        QTest::newRow("error below the limit is retried") << kTransferFailed << 3 << 10 << false;
        QTest::newRow("error at the limit") << kTransferFailed << 10 << 10 << true;
        QTest::newRow("no limit keeps retrying") << kTransferFailed << 20000 << 9999 << false;
        QTest::newRow("idle is no failure") << kIdle << 50 << 10 << false;
        QTest::newRow("finished is no failure") << kFinished << 50 << 10 << false;
    }

    void failedForGood()
    {
        QFETCH(int, status);
        QFETCH(int, attempts);
        QFETCH(int, retryCount);
        QFETCH(bool, failed);
        QCOMPARE(hasFailedForGood(status, attempts, retryCount), failed);
    }

    void aFailureIsToldOnce()
    {
        QueueNotices notices;
        QVERIFY(notices.update({item(1, kTransferring)}).empty());
        auto told = notices.update({item(1, kBadUrl), item(2, kTransferring)});
        QCOMPARE(told.size(), std::size_t(1));
        QVERIFY(told[0].kind == QueueNotice::Kind::ItemFailed);
        QCOMPARE(told[0].fileName, std::string("file1"));
        QVERIFY(notices.update({item(1, kBadUrl), item(2, kTransferring)}).empty());
        // Retried by hand and failed again: told again.
        QVERIFY(notices.update({item(1, kIdle), item(2, kTransferring)}).empty());
        QCOMPARE(notices.update({item(1, kBadUrl), item(2, kTransferring)}).size(), std::size_t(1));
    }

    void theQueueFinishesOncePerBusySpell()
    {
        QueueNotices notices;
        // Never busy: nothing finished.
        QVERIFY(notices.update({item(1, kIdle)}).empty());
        QVERIFY(notices.update({item(1, kTransferring), item(2, kIdle)}).empty());
        // One done, another still waiting to start: not finished yet.
        QVERIFY(notices.update({item(1, kFinished), item(2, kIdle)}).empty());
        QVERIFY(notices.update({item(2, kTransferring)}).empty());
        auto told = notices.update({item(2, kFinished)});
        QCOMPARE(told.size(), std::size_t(1));
        QVERIFY(told[0].kind == QueueNotice::Kind::QueueFinished);
        QVERIFY(notices.update({}).empty());
    }

    void finishesOnlyWhenNothingIsLeftToRun()
    {
        QueueNotices notices;
        QVERIFY(notices.update({item(1, kTransferring), item(2, kTransferring)}).empty());
        // One finished, the other failed and waits for its retry: not finished.
        QVERIFY(notices.update({item(1, kFinished), item(2, kTransferFailed, 1)}).empty());
        // The finished item has left the queue; the other ended for good.
        NoticeInput ended = item(2, kTransferFailed, 1);
        ended.endedForGood = true;
        const auto told = notices.update({ended});
        QCOMPARE(told.size(), std::size_t(2));
        QVERIFY(told[1].kind == QueueNotice::Kind::QueueFinished);
        QCOMPARE(told[1].finished, 1);
        QCOMPARE(told[1].failed, 1);
    }
};

QTEST_GUILESS_MAIN(QueueNoticesTest)
#include "queue_notices_test.moc"
