// SPDX-License-Identifier: MIT
#include <QTest>
#include <QTime>

#include "widgets/log_line.h"

using namespace bw::widgets;

class LogLineTest : public QObject
{
    Q_OBJECT

private slots:

    void lineFormats_data()
    {
        QTest::addColumn<bool>("timestamp");
        QTest::addColumn<bool>("showThread");
        QTest::addColumn<QString>("line");
        QTest::newRow("time and thread")
            << true << true << QStringLiteral("[09:05:03 4711] 226 Transfer complete");
        QTest::newRow("time only") << true << false << QStringLiteral("[09:05:03] 226 Transfer complete");
        QTest::newRow("thread only") << false << true << QStringLiteral("[4711] 226 Transfer complete");
        QTest::newRow("neither") << false << false << QStringLiteral("226 Transfer complete");
    }

    void lineFormats()
    {
        QFETCH(bool, timestamp);
        QFETCH(bool, showThread);
        QFETCH(QString, line);
        QCOMPARE(formatLogLine(
                     QStringLiteral("226 Transfer complete"), 4711, QTime(9, 5, 3), timestamp, showThread),
            line);
    }

    void passwordsAreMasked_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("command") << QStringLiteral("PASS s3cret") << QStringLiteral("PASS ********");
        QTest::newRow("lower case") << QStringLiteral("pass s3cret") << QStringLiteral("pass ********");
        QTest::newRow("connection prefix")
            << QStringLiteral("[3] : PASS a b c") << QStringLiteral("[3] : PASS ********");
        QTest::newRow("short password keeps no length")
            << QStringLiteral("PASS x") << QStringLiteral("PASS ********");
        QTest::newRow("no password") << QStringLiteral("PASS") << QStringLiteral("PASS");
        QTest::newRow("other command")
            << QStringLiteral("USER anonymous") << QStringLiteral("USER anonymous");
        QTest::newRow("reply") << QStringLiteral("230 PASS accepted") << QStringLiteral("230 PASS accepted");
        QTest::newRow("PASV is not PASS") << QStringLiteral("PASV") << QStringLiteral("PASV");
        QTest::newRow("word in status") << QStringLiteral("Bypass tried") << QStringLiteral("Bypass tried");
        QTest::newRow("URL in a status")
            << QStringLiteral("Cannot follow the redirect to ftp://u:pw@h/a")
            << QStringLiteral("Cannot follow the redirect to ftp://u:********@h/a");
    }

    void passwordsAreMasked()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(maskPassword(text), shown);
    }

    void errorsStandOut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("error");
        QTest::newRow("refused login") << QStringLiteral("530 Login incorrect") << true;
        QTest::newRow("multi-line refusal") << QStringLiteral("[2] : 550-No such file") << true;
        QTest::newRow("success reply") << QStringLiteral("226 Transfer complete") << false;
        QTest::newRow("a size that starts like a code") << QStringLiteral("500000 bytes") << false;
        QTest::newRow("refused certificate")
            << QStringLiteral("Certificate verification failed: self-signed certificate") << true;
        QTest::newRow("plain step") << QStringLiteral("Connecting...") << false;
    }

    void errorsStandOut()
    {
        QFETCH(QString, text);
        QFETCH(bool, error);
        QCOMPARE(isErrorLine(text), error);
    }
};

QTEST_MAIN(LogLineTest)
#include "log_line_test.moc"
