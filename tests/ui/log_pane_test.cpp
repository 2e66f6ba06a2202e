// SPDX-License-Identifier: MIT
#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTest>

#include "platform/thread_util.h"
#include "ui/log_pane_copy.h"
#include "ui/log_sub_frame.h"
#include "widgets/ctrl_list_view.h"
#include "widgets/row_texts.h"

using namespace bw::ui;
using bw::test::rowTexts;
using bw::widgets::CCtrlListView;

class LogPaneTest : public QObject
{
    Q_OBJECT

private slots:

    void subFrameRoutesByThreadId()
    {
        CLogSubFrame frame;
        QCOMPARE(frame.batchLog()->caption(), QStringLiteral("Batch Log"));
        QCOMPARE(frame.manualLog()->caption(), QStringLiteral("Manual Log"));
        QCOMPARE(frame.widget(0), frame.batchLog());
        QCOMPARE(frame.widget(1), frame.manualLog());
        frame.addLine(QStringLiteral("RETR a.zip"), 99);
        frame.addLine(QStringLiteral("LIST"), 0);
        QCOMPARE(rowTexts(*frame.batchLog()), QStringList{QStringLiteral("[99] RETR a.zip")});
        QCOMPARE(rowTexts(*frame.manualLog()),
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

    // The first error opens "Batch Log" once; when the user closes it again, it stays closed.
    void batchLogOpensOncePerRun()
    {
        CLogSubFrame frame;
        frame.resize(400, 300);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const int caption = CCtrlListView::captionHeight();
        QTRY_COMPARE_WITH_TIMEOUT(frame.sizes().value(0), caption, 5000);
        QVERIFY(!frame.hasOpenedBatchLog());
        frame.openBatchLogOnce();
        QVERIFY(frame.hasOpenedBatchLog());
        const QList<int> opened = frame.sizes();
        QVERIFY(opened.value(0) > opened.value(1));
        QVERIFY(opened.value(1) >= caption);

        frame.setSizes({caption, opened.value(0) + opened.value(1) - caption}); // the user closes it
        frame.openBatchLogOnce();
        QCOMPARE(frame.sizes().value(0), caption);
    }

    void batchLogTheUserOpenedKeepsItsSize()
    {
        CLogSubFrame frame;
        frame.resize(400, 300);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QTRY_COMPARE_WITH_TIMEOUT(frame.sizes().value(0), CCtrlListView::captionHeight(), 5000);
        frame.setSizes({60, 200});
        const QList<int> chosen = frame.sizes();
        frame.openBatchLogOnce();
        QCOMPARE(frame.sizes(), chosen);
    }

    void selectedLinesAreCopied()
    {
        CLogSubFrame frame;
        for (const char *text : {"USER anonymous", "PASS *", "RETR a.zip"})
            frame.addLine(QString::fromLatin1(text), 7);
        bw::widgets::TiledListCtrl *list = frame.batchLog()->list();
        QCOMPARE(LogPaneCopy::selectedText(list), QString());
        list->selectRow(0);
        list->selectRow(2, false);
        QCOMPARE(LogPaneCopy::selectedText(list), QStringLiteral("[7] USER anonymous\n[7] RETR a.zip"));
        QGuiApplication::clipboard()->clear();
        list->setFocus();
        QTest::keySequence(list, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("[7] USER anonymous\n[7] RETR a.zip"));
        QCOMPARE(list->actions().size(), 2);
    }

    void followsNewLinesOnlyAtTheBottom()
    {
        CLogSubFrame frame;
        frame.resize(400, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QScrollBar *scroll = frame.manualLog()->list()->verticalScrollBar();
        for (int i = 0; i < 200; ++i)
            frame.addLine(QStringLiteral("line %1").arg(i), 0);
        QTRY_VERIFY_WITH_TIMEOUT(scroll->maximum() > 0 && scroll->value() == scroll->maximum(), 5000);
        // Scrolled up to read: new lines leave the view where it is.
        scroll->setValue(0);
        frame.addLine(QStringLiteral("later"), 0);
        QCOMPARE(scroll->value(), 0);
        // Back at the bottom: the view follows again.
        scroll->setValue(scroll->maximum());
        const int before = scroll->maximum();
        frame.addLine(QStringLiteral("last"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(scroll->maximum() > before && scroll->value() == scroll->maximum(), 5000);
    }

    void errorsStandOutAndEmptyLinesStayOut()
    {
        CLogSubFrame frame;
        frame.resize(700, 400);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        for (const char *text : {"USER u", "", "  ", "530 Login incorrect"})
            frame.addLine(QString::fromLatin1(text), 7);
        bw::widgets::TiledListCtrl *list = frame.batchLog()->list();
        QCOMPARE(list->rowCount(), 2);
        QVERIFY(!list->listModel()->isEmphasized(0));
        QVERIFY(list->listModel()->isEmphasized(1));
        QVERIFY(list->listModel()->index(1, 0).data(Qt::ForegroundRole).isValid());
        // The text column takes the pane's width, and the handle can be grabbed.
        QTRY_VERIFY_WITH_TIMEOUT(list->columnWidth(0) > 600, 5000);
        QVERIFY(frame.handleWidth() >= 6);
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
};

QTEST_MAIN(LogPaneTest)
#include "log_pane_test.moc"
