// SPDX-License-Identifier: MIT
#include <QAbstractItemModelTester>
#include <QRegularExpression>
#include <QTest>

#include "platform/thread_util.h"
#include "widgets/caption_bar.h"
#include "widgets/ctrl_list_view.h"
#include "widgets/image_list.h"
#include "widgets/row_texts.h"

using namespace bw::widgets;
using bw::test::rowTexts;

class CtrlListViewTest : public QObject
{
    Q_OBJECT

private slots:

    void paneMasksASentPassword()
    {
        CCtrlListView pane;
        pane.setShowThread(false);
        pane.addLine(QStringLiteral("PASS hunter2"), 12);
        QCOMPARE(rowTexts(pane), QStringList{QStringLiteral("PASS ********")});
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
        QCOMPARE(rowTexts(pane),
            (QStringList{
                QStringLiteral("line 500"), QStringLiteral("line 501"), QStringLiteral("line 502")}));
    }

    void threadIdZeroShowsTheCallingThread()
    {
        CCtrlListView pane;
        pane.addLine(QStringLiteral("220 ready"), 0);
        pane.addLine(QStringLiteral("Connecting..."), 31337);
        const QString self = QString::number(bw::platform::currentThreadId());
        QCOMPARE(rowTexts(pane),
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

QTEST_MAIN(CtrlListViewTest)
#include "ctrl_list_view_test.moc"
