// SPDX-License-Identifier: MIT
#include <QTest>

#include "core/queue_item.h"
#include "ui/queue_row_text.h"

using namespace bw::ui;

class QueueRowTextTest : public QObject
{
    Q_OBJECT

private slots:

    void doneSizes_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("text");
        QTest::newRow("small total shows the bare size")
            << qint64(50) << qint64(99) << 0 << QStringLiteral("50 B");
        QTest::newRow("percent follows the size")
            << qint64(3 * 1024 * 1024) << qint64(6 * 1024 * 1024) << 50 << QStringLiteral("3.0 MiB (50%)");
        QTest::newRow("unknown total") << qint64(2048) << qint64(0) << 0 << QStringLiteral("2.0 KiB");
    }

    void doneSizes()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(int, percent);
        QFETCH(QString, text);
        QCOMPARE(doneSizeText(done, total, percent), text);
    }

    void speedCarriesTimeLeft_data()
    {
        QTest::addColumn<qint64>("kib");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("text");
        QTest::newRow("standing still") << qint64(0) << qint64(0) << qint64(1000) << QString();
        QTest::newRow("time left") << qint64(100) << qint64(0) << qint64(200 * 1000 * 60)
                                   << QStringLiteral("100 kB/s, 2m 00s left");
        QTest::newRow("unknown total keeps the speed")
            << qint64(100) << qint64(5000) << qint64(0) << QStringLiteral("100 kB/s");
        QTest::newRow("more than announced keeps the speed")
            << qint64(100) << qint64(5000) << qint64(4000) << QStringLiteral("100 kB/s");
    }

    void speedCarriesTimeLeft()
    {
        QFETCH(qint64, kib);
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(QString, text);
        QCOMPARE(speedAndTimeLeftText(kib, done, total), text);
    }

    void tipNamesFoldersOnlyForRepeatedNames()
    {
        bw::core::QueueItem item;
        item.host = "host.example";
        item.path = "/pub/a/";
        item.fileName = "setup.exe";
        item.localPath = "/home/u/Downloads/a/setup.exe";
        item.bytesDone = 1234567;
        item.totalSize = 2000000;
        const QString single = rowDetailTip(QStringLiteral("Idle"), item, false);
        QCOMPARE(single, QStringLiteral("Idle\n1,234,567 bytes of 2,000,000 bytes"));
        const QString repeated = rowDetailTip(QStringLiteral("Idle"), item, true);
        QVERIFY(repeated.startsWith(single + QLatin1Char('\n')));
        QVERIFY(repeated.contains(QStringLiteral("Folder: host.example/pub/a/")));
        QVERIFY(repeated.contains(QStringLiteral("Saved to: /home/u/Downloads/a/setup.exe")));
    }

    void fileColumnShowsAFolderItemsFolder()
    {
        bw::core::QueueItem item;
        item.path = "/pub/photos/";
        QCOMPARE(fileColumnText(item), QStringLiteral("photos/"));
        item.path = "/";
        QCOMPARE(fileColumnText(item), QStringLiteral("/"));
        item.fileName = "a.iso";
        QCOMPARE(fileColumnText(item), QStringLiteral("a.iso"));
    }
};

QTEST_GUILESS_MAIN(QueueRowTextTest)
#include "queue_row_text_test.moc"
