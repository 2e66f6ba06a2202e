// SPDX-License-Identifier: MIT
// The pure rules behind the queue rows and the tray icon: tab membership, percent, "Action" texts and
// images, "Bytes" and "Count" texts, and the tray load level with its tooltip.
#include <QtTest>

#include "ui/queue_row.h"
#include "ui/tray_status.h"

using namespace bw::ui;

class QueueRowTest : public QObject
{
    Q_OBJECT

private slots:
    void membership_data();
    void membership();
    void percent_data();
    void percent();
    void action_data();
    void action();
    void countAndBytes();
    void trayLevel_data();
    void trayLevel();
    void trayStatusTexts();
};

void QueueRowTest::membership_data()
{
    QTest::addColumn<int>("status");
    // Tabs the status shows in, as "QACE" letters: Queue, Active, Complete, Errors.
    QTest::addColumn<QString>("tabs");
    const QList<QPair<int, QString>> cases{
        {0, "Q"},
        {1, "Q"},
        {2, "C"},
        {3, "QE"},
        {4, "QE"},
        {5, "QE"},
        {6, "QE"},
        {7, "QE"},
        {8, "CE"},
        {9, "QE"},
        {10, "QE"},
        {11, "QE"},
        {12, "QE"},
        {13, "C"},
        {14, "QE"},
        {15, "QE"},
        {16, "QE"},
        {17, "Q"},
        {129, "QA"},
        {130, "QA"},
        {131, "QA"},
        {132, "QA"},
        {133, "Q"},
        {135, "QA"},
        {136, "Q"},
    };
    for (const auto &[status, tabs] : cases)
        QTest::addRow("status %d", status) << status << tabs;
}

void QueueRowTest::membership()
{
    QFETCH(int, status);
    QFETCH(QString, tabs);
    const QString letters = QStringLiteral("QACE");
    for (int tab = 0; tab < kQueueTabCount; ++tab) {
        const bool expected = tabs.contains(letters[tab]);
        QCOMPARE(belongsInTab(static_cast<QueueTab>(tab), status, false), expected);
        // An item marked for removal shows nowhere.
        QVERIFY(!belongsInTab(static_cast<QueueTab>(tab), status, true));
    }
}

void QueueRowTest::percent_data()
{
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("expected");
    QTest::newRow("no total") << qint64(50) << qint64(0) << 0;
    QTest::newRow("total below 100 bytes") << qint64(50) << qint64(99) << 0;
    QTest::newRow("small total") << qint64(50) << qint64(100) << 50;
    QTest::newRow("just below the large rule") << qint64(32767) << qint64(32767) << 100;
    QTest::newRow("large total divides by hundredths") << qint64(20000) << qint64(40000) << 50;
    QTest::newRow("large total rounds down") << qint64(39999) << qint64(40000) << 99;
    QTest::newRow("beyond 4 GiB") << qint64(3'000'000'000) << qint64(6'000'000'000) << 50;
}

void QueueRowTest::percent()
{
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(int, expected);
    QCOMPARE(progressPercent(done, total), expected);
}

void QueueRowTest::action_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("upload");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("image");
    QTest::newRow("idle download") << 1 << false << qint64(0) << 0 << "Idle" << kImageIdleDownload;
    QTest::newRow("idle upload") << 1 << true << qint64(0) << 0 << "Idle" << kImageIdleUpload;
    QTest::newRow("reconnect later") << 17 << false << qint64(0) << 0 << "Idle" << kImageIdleDownload;
    QTest::newRow("finished") << 2 << false << qint64(10) << 0 << "Complete" << kImageIdleDownload;
    QTest::newRow("queued for removal") << 8 << true << qint64(0) << 0 << "Complete" << kImageIdleUpload;
    QTest::newRow("manual complete") << 13 << false << qint64(0) << 0 << "Complete" << kImageIdleDownload;
    for (int status : {3, 4, 9, 14, 15, 16})
        QTest::addRow("error %d", status)
            << status << false << qint64(0) << 0 << "Idle - Error" << kImageIdleDownload;
    QTest::newRow("timeout") << 5 << false << qint64(0) << 0 << "Idle - Timeout" << kImageIdleDownload;
    QTest::newRow("ratio") << 6 << false << qint64(0) << 0 << "Idle - Ratio" << kImageIdleDownload;
    QTest::newRow("ratio recheck") << 10 << true << qint64(0) << 0 << "Idle - Ratio" << kImageIdleUpload;
    QTest::newRow("missing") << 7 << false << qint64(0) << 0 << "Idle - Missing" << kImageIdleDownload;
    QTest::newRow("connecting") << 130 << true << qint64(0) << 0 << "Connecting" << kImageActiveUpload;
    QTest::newRow("transferring small file")
        << 132 << false << qint64(99) << 0 << "Downloading - 0%" << kImageActiveDownload;
    QTest::newRow("transferring without size")
        << 132 << false << qint64(0) << 0 << "Downloading" << kImageActiveDownload;
    QTest::newRow("searching upload")
        << 131 << true << qint64(400) << 25 << "Uploading - 25%" << kImageActiveUpload;
    QTest::newRow("manual pending") << 133 << false << qint64(0) << 0 << "Manual - Pending"
                                    << kImageManualPending;
    QTest::newRow("manual active") << 135 << false << qint64(0) << 0 << "Manual - Active"
                                   << kImageManualActive;
    QTest::newRow("active") << 129 << false << qint64(0) << 0 << "Active" << kImageActiveDownload;
    QTest::newRow("bad url") << 11 << false << qint64(0) << 0 << "Idle - Error" << kImageIdleDownload;
    QTest::newRow("failed manual") << 12 << true << qint64(0) << 0 << "Idle - Error" << kImageIdleUpload;
    QTest::newRow("ratio active") << 136 << false << qint64(0) << 0 << "Active" << kImageActiveDownload;
}

void QueueRowTest::action()
{
    QFETCH(int, status);
    QFETCH(bool, upload);
    QFETCH(qint64, total);
    QFETCH(int, percent);
    QFETCH(QString, text);
    QFETCH(int, image);
    const RowAction result = rowAction(status, upload, total, percent);
    QCOMPARE(result.text, text);
    QCOMPARE(result.image, image);
}

void QueueRowTest::countAndBytes()
{
    QCOMPARE(countText(3, 10), QStringLiteral("3/10"));
    QCOMPARE(countText(3, 9998), QStringLiteral("3/9998"));
    QCOMPARE(countText(3, 9999), QStringLiteral("3"));
    QCOMPARE(countText(3, 100000), QStringLiteral("3"));
    QCOMPARE(bytesText(50, 99, 0), QStringLiteral("50"));
    QCOMPARE(bytesText(20000, 40000, 50), QStringLiteral("20000 (50%)"));
    QCOMPARE(bytesText(5'000'000'000, 10'000'000'000, 50), QStringLiteral("5000000000 (50%)"));
}

void QueueRowTest::trayLevel_data()
{
    QTest::addColumn<int>("busy");
    QTest::addColumn<int>("maxThreads");
    QTest::addColumn<int>("level");
    QTest::newRow("no jobs allowed") << 0 << 0 << 4;
    QTest::newRow("nothing busy") << 0 << 8 << 0;
    QTest::newRow("one of eight is raised to 1") << 1 << 8 << 1;
    QTest::newRow("three of eight") << 3 << 8 << 1;
    QTest::newRow("four of eight") << 4 << 8 << 2;
    QTest::newRow("six of eight") << 6 << 8 << 3;
    QTest::newRow("eight of eight") << 8 << 8 << 4;
    QTest::newRow("one of forty") << 1 << 40 << 1;
}

void QueueRowTest::trayLevel()
{
    QFETCH(int, busy);
    QFETCH(int, maxThreads);
    QFETCH(int, level);
    QCOMPARE(trayLoadLevel(busy, maxThreads), level);
}

void QueueRowTest::trayStatusTexts()
{
    TrayStatus status = trayStatus(true, 1, 3, 8, false);
    QCOMPARE(status.toolTip, QStringLiteral("1 Transferring, 2 Attempting, 5 Idle"));
    QCOMPARE(status.image, TrayImage::Load1);
    status = trayStatus(true, 0, 0, 0, false);
    QCOMPARE(status.image, TrayImage::Load4);
    status = trayStatus(true, 0, 2, 8, false);
    QCOMPARE(status.image, TrayImage::Idle);
    status = trayStatus(false, 5, 5, 8, false);
    QCOMPARE(status.toolTip, QStringLiteral("Idle"));
    QCOMPARE(status.image, TrayImage::Idle);
    QCOMPARE(trayStatus(false, 0, 0, 8, true).image, TrayImage::Manual);
    QCOMPARE(trayStatus(true, 8, 8, 8, true).image, TrayImage::Manual);
}

QTEST_GUILESS_MAIN(QueueRowTest)
#include "queue_row_test.moc"
