// SPDX-License-Identifier: MIT
#include <QTest>

#include "widgets/size_text.h"

using namespace bw::widgets;

class SizeTextTest : public QObject
{
    Q_OBJECT

private slots:

    void sizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0 B");
        QTest::newRow("negative reads as zero") << qint64(-5) << QStringLiteral("0 B");
        QTest::newRow("bytes stay whole") << qint64(1023) << QStringLiteral("1023 B");
        QTest::newRow("one KiB") << qint64(1024) << QStringLiteral("1.0 KiB");
        QTest::newRow("one and a half KiB") << qint64(1536) << QStringLiteral("1.5 KiB");
        QTest::newRow("hundreds drop the decimal") << qint64(500 * 1024) << QStringLiteral("500 KiB");
        QTest::newRow("rounding up to 100 drops it too") << qint64(99.97 * 1024) << QStringLiteral("100 KiB");
        QTest::newRow("MiB") << qint64(12.34 * 1024 * 1024) << QStringLiteral("12.3 MiB");
        QTest::newRow("GiB") << qint64(3) * 1024 * 1024 * 1024 << QStringLiteral("3.0 GiB");
        QTest::newRow("TiB") << qint64(5) * 1024 * 1024 * 1024 * 1024 << QStringLiteral("5.0 TiB");
        QTest::newRow("largest") << qint64(INT64_MAX) << QStringLiteral("8.0 EiB");
    }

    void sizes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(sizeText(bytes), text);
    }

    void speeds_data()
    {
        QTest::addColumn<qint64>("kib");
        QTest::addColumn<QString>("text");
        QTest::newRow("standing still is empty") << qint64(0) << QString();
        QTest::newRow("kB per second") << qint64(850) << QStringLiteral("850 kB/s");
        QTest::newRow("MB per second, decimal steps") << qint64(1229) << QStringLiteral("1.2 MB/s");
        QTest::newRow("no 1024 step") << qint64(1010) << QStringLiteral("1.0 MB/s");
    }

    void speeds()
    {
        QFETCH(qint64, kib);
        QFETCH(QString, text);
        QCOMPARE(speedText(kib), text);
    }

    void timeLeft_data()
    {
        QTest::addColumn<qint64>("remaining");
        QTest::addColumn<qint64>("kib");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown speed") << qint64(1000) << qint64(0) << QString();
        QTest::newRow("nothing left") << qint64(0) << qint64(10) << QString();
        QTest::newRow("a part second rounds up") << qint64(1) << qint64(1) << QStringLiteral("1s");
        QTest::newRow("seconds") << qint64(45 * 1000) << qint64(1) << QStringLiteral("45s");
        QTest::newRow("minutes pad seconds") << qint64(185 * 1000) << qint64(1) << QStringLiteral("3m 05s");
        QTest::newRow("hours pad minutes") << qint64(7500) * 1000 << qint64(1) << QStringLiteral("2h 05m");
        QTest::newRow("days") << qint64(3 * 86400 + 4 * 3600) * 1000 << qint64(1) << QStringLiteral("3d 4h");
    }

    void timeLeft()
    {
        QFETCH(qint64, remaining);
        QFETCH(qint64, kib);
        QFETCH(QString, text);
        QCOMPARE(timeLeftText(remaining, kib), text);
    }

    void exactBytesAreGrouped()
    {
        QCOMPARE(exactBytesText(1234567), QStringLiteral("1,234,567 bytes"));
        QCOMPARE(exactBytesText(0), QStringLiteral("0 bytes"));
    }
};

QTEST_GUILESS_MAIN(SizeTextTest)
#include "size_text_test.moc"
