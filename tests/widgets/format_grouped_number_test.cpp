// SPDX-License-Identifier: MIT
#include <QTest>

#include "widgets/format_grouped_number.h"

using bw::widgets::FormatGroupedNumber;

class FormatGroupedNumberTest : public QObject
{
    Q_OBJECT

private slots:

    void groupsThousands_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero is empty") << quint64(0) << QString();
        QTest::newRow("one digit") << quint64(7) << QStringLiteral("7");
        QTest::newRow("three digits") << quint64(999) << QStringLiteral("999");
        QTest::newRow("one thousand") << quint64(1000) << QStringLiteral("1,000");
        QTest::newRow("inner zeros padded") << quint64(1002003) << QStringLiteral("1,002,003");
        QTest::newRow("millions") << quint64(1234567) << QStringLiteral("1,234,567");
        QTest::newRow("exact million") << quint64(1000000) << QStringLiteral("1,000,000");
        QTest::newRow("billions") << quint64(1000000000) << QStringLiteral("1,000,000,000");
        QTest::newRow("billions stay one group")
            << quint64(5000000000000ULL) << QStringLiteral("5000,000,000,000");
        QTest::newRow("above 32 bits") << quint64(4294967296ULL) << QStringLiteral("4,294,967,296");
        QTest::newRow("largest value")
            << quint64(18446744073709551615ULL) << QStringLiteral("18446744073,709,551,615");
    }

    void groupsThousands()
    {
        QFETCH(quint64, value);
        QFETCH(QString, text);
        QCOMPARE(FormatGroupedNumber(value), text);
    }
};

QTEST_GUILESS_MAIN(FormatGroupedNumberTest)
#include "format_grouped_number_test.moc"
