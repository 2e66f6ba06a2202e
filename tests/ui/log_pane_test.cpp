// SPDX-License-Identifier: MIT
#include <thread>

#include <QAbstractItemModelTester>
#include <QRegularExpression>
#include <QTest>

#include "platform/thread_util.h"
#include "ui/caption_bar.h"
#include "ui/ctrl_list_view.h"
#include "ui/image_list.h"
#include "ui/log_line.h"
#include "ui/log_sub_frame.h"

using namespace bw::ui;

namespace {

QStringList lines(const CCtrlListView &pane)
{
    QStringList result;
    for (int row = 0; row < pane.list()->rowCount(); ++row)
        result << pane.list()->itemText(row, 0);
    return result;
}

} // namespace

class LogPaneTest : public QObject
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
    }

    void passwordsAreMasked()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(maskPassword(text), shown);
    }

    void paneMasksASentPassword()
    {
        CCtrlListView pane;
        pane.setShowThread(false);
        pane.addLine(QStringLiteral("PASS hunter2"), 12);
        QCOMPARE(lines(pane), QStringList{QStringLiteral("PASS ********")});
    }

    void keepsTheNewest500Lines()
    {
        CCtrlListView pane;
        QAbstractItemModelTester tester(
            pane.list()->listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(pane.maxLines(), 500);
        pane.setShowThread(false);
        for (int i = 1; i <= 500; ++i)
            pane.addLine(QStringLiteral("line %1").arg(i), 7);
        QCOMPARE(pane.list()->rowCount(), 500);
        QCOMPARE(pane.list()->itemText(0, 0), QStringLiteral("line 1"));
        pane.addLine(QStringLiteral("line 501"), 7);
        QCOMPARE(pane.list()->rowCount(), 500);
        QCOMPARE(pane.list()->itemText(0, 0), QStringLiteral("line 2"));
        QCOMPARE(pane.list()->itemText(499, 0), QStringLiteral("line 501"));
        QCOMPARE(pane.list()->itemImage(499), kImageLogLine);
        // A lower limit trims the oldest lines with the next line.
        pane.setMaxLines(3);
        pane.addLine(QStringLiteral("line 502"), 7);
        QCOMPARE(lines(pane),
            (QStringList{
                QStringLiteral("line 500"), QStringLiteral("line 501"), QStringLiteral("line 502")}));
    }

    void threadIdZeroShowsTheCallingThread()
    {
        CCtrlListView pane;
        pane.addLine(QStringLiteral("220 ready"), 0);
        pane.addLine(QStringLiteral("Connecting..."), 31337);
        const QString self = QString::number(bw::platform::currentThreadId());
        QCOMPARE(lines(pane),
            (QStringList{
                QStringLiteral("[%1] 220 ready").arg(self), QStringLiteral("[31337] Connecting...")}));
    }

    void timestampFollowsTheSetting()
    {
        CCtrlListView pane;
        QVERIFY(!pane.timestamp());
        pane.addLine(QStringLiteral("plain"), 5);
        pane.setTimestamp(true);
        pane.addLine(QStringLiteral("timed"), 5);
        QCOMPARE(pane.list()->itemText(0, 0), QStringLiteral("[5] plain"));
        QVERIFY(QRegularExpression(QStringLiteral(R"(^\[\d\d:\d\d:\d\d 5\] timed$)"))
                    .match(pane.list()->itemText(1, 0))
                    .hasMatch());
    }

    void paneDefaults()
    {
        CCtrlListView pane;
        QCOMPARE(pane.caption(), QStringLiteral("NoName"));
        QVERIFY(pane.showThread());
        QCOMPARE(pane.list()->columnCount(), 1);
        QCOMPARE(pane.list()->listModel()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Entry"));
        QCOMPARE(pane.list()->columnWidth(0), 500);
        QCOMPARE(pane.list()->objectName(), QStringLiteral("101"));
    }

    void subFrameRoutesByThreadId()
    {
        CLogSubFrame frame;
        QCOMPARE(frame.batchLog()->caption(), QStringLiteral("Batch Log"));
        QCOMPARE(frame.manualLog()->caption(), QStringLiteral("Manual Log"));
        QCOMPARE(frame.widget(0), frame.batchLog());
        QCOMPARE(frame.widget(1), frame.manualLog());
        frame.addLine(QStringLiteral("RETR a.zip"), 99);
        frame.addLine(QStringLiteral("LIST"), 0);
        QCOMPARE(lines(*frame.batchLog()), QStringList{QStringLiteral("[99] RETR a.zip")});
        QCOMPARE(lines(*frame.manualLog()),
            QStringList{QStringLiteral("[%1] LIST").arg(bw::platform::currentThreadId())});
        frame.setTimestamp(true);
        QVERIFY(frame.batchLog()->timestamp() && frame.manualLog()->timestamp());
    }

    void onlyTheBatchCaptionShowsAtFirst()
    {
        CLogSubFrame frame;
        frame.resize(400, 300);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QTRY_COMPARE_WITH_TIMEOUT(frame.sizes().value(0), CCtrlListView::captionHeight(), 5000);
        QVERIFY(frame.sizes().value(1) > CCtrlListView::captionHeight());
    }

    void lowerStripSplitsTwoFifthsAndThreeTenths()
    {
        CSubFrame frame;
        for (int i = 0; i < 3; ++i)
            frame.addWidget(new CCtrlListView);
        frame.resize(1000 + 2 * frame.handleWidth(), 300);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const QList<int> sizes = frame.sizes();
        QCOMPARE(sizes.size(), 3);
        QVERIFY(qAbs(sizes[0] - 400) <= 2);
        QVERIFY(qAbs(sizes[1] - 300) <= 2);
        QVERIFY(qAbs(sizes[2] - 300) <= 2);
    }

    void captionsFollowTheWindowsActiveState()
    {
        const QPalette palette;
        const CaptionColors active = CaptionBar::colors(palette, true);
        const CaptionColors inactive = CaptionBar::colors(palette, false);
        QVERIFY(active.fill != inactive.fill);
        QCOMPARE(CaptionBar::captionHeight(), QFontMetrics(CaptionBar::captionFont()).height() + 4);
        QCOMPARE(CaptionBar::captionFont().pointSize(), 8);

        QWidget window;
        auto *first = new CCtrlListView(&window);
        auto *second = new CCtrlListView(&window);
        second->move(0, 200);
        window.resize(300, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(window.isActiveWindow(), 5000);
        QVERIFY(first->captionBar()->showsActive() && second->captionBar()->showsActive());
        const auto fillOf = [](CCtrlListView *pane) {
            return pane->captionBar()->grab().toImage().pixel(1, 1);
        };
        QCOMPARE(fillOf(first), active.fill.rgb());
        QCOMPARE(fillOf(second), active.fill.rgb());

        QWidget other;
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        other.activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isActiveWindow(), 5000);
        QVERIFY(!first->captionBar()->showsActive() && !second->captionBar()->showsActive());
        QCOMPARE(fillOf(first), inactive.fill.rgb());
        QCOMPARE(fillOf(second), inactive.fill.rgb());
    }

    void controlStripSitsUnderTheCaption()
    {
        CCtrlListView pane;
        auto *strip = new QWidget;
        strip->setMinimumHeight(24);
        auto *edit = new QWidget(strip);
        edit->setGeometry(10, 2, 50, 20);
        pane.setControlStrip(strip, edit);
        pane.resize(300, 200);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        const int caption = CCtrlListView::captionHeight();
        QCOMPARE(strip->geometry().top(), caption);
        QCOMPARE(edit->geometry().right() + 1, 300 - 4);
        QCOMPARE(pane.list()->geometry().top(), caption + 24);
        QCOMPARE(pane.list()->geometry().bottom(), 199);
    }
};

QTEST_MAIN(LogPaneTest)
#include "log_pane_test.moc"
