// SPDX-License-Identifier: MIT
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "widgets/transfer_progress_dialog.h"

using namespace bw::widgets;

class TransferProgressDialogTest : public QObject
{
    Q_OBJECT

private slots:

    void showsTheNameAndTheProgress()
    {
        QWidget mainWindow;
        mainWindow.setGeometry(100, 100, 800, 600);
        mainWindow.show();
        TransferProgressDialog dialog(&mainWindow);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("File Transfer"));
        bool abort = false;
        dialog.setTotal(5000000000ULL);
        dialog.start(QStringLiteral("big.iso"), &abort);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Transferring big.iso"));
        QCOMPARE(dialog.total(), 5000000000ULL);
        QVERIFY(dialog.findChild<QLineEdit *>()->isReadOnly());
        QVERIFY(dialog.findChild<QLineEdit *>()->text().isEmpty());
        QCOMPARE(dialog.position(), 0);
        dialog.setPosition(42);
        QCOMPARE(dialog.progressBar()->value(), 42);
        dialog.setPosition(130); // the bar stays within 0 to 100
        QCOMPARE(dialog.position(), 100);
        QCOMPARE(dialog.abortButton()->text(), QStringLiteral("Abort"));
        // Centred over the main window.
        QVERIFY(qAbs(dialog.frameGeometry().center().x() - mainWindow.geometry().center().x()) <= 1);
        QVERIFY(qAbs(dialog.frameGeometry().center().y() - mainWindow.geometry().center().y()) <= 1);
        QVERIFY(!abort);
    }

    void progressText_data()
    {
        QTest::addColumn<qulonglong>("done");
        QTest::addColumn<qulonglong>("total");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing yet") << 0ULL << 1234ULL << "0 of 1,234 bytes";
        QTest::newRow("grouped like the panes") << 4096ULL << 1000000ULL << "4,096 of 1,000,000 bytes";
        QTest::newRow("all of it") << 999ULL << 999ULL << "999 of 999 bytes";
        QTest::newRow("total unknown") << 1234567ULL << 0ULL << "1,234,567 bytes";
        QTest::newRow("nothing of nothing") << 0ULL << 0ULL << "0 bytes";
    }

    void progressText()
    {
        QFETCH(qulonglong, done);
        QFETCH(qulonglong, total);
        QFETCH(QString, text);
        QCOMPARE(TransferProgressDialog::progressText(done, total), text);
    }

    void bytesLineFollowsTheTransfer()
    {
        TransferProgressDialog dialog;
        std::atomic<bool> abort{false};
        dialog.setTotal(300000);
        dialog.start(QStringLiteral("a.zip"), &abort);
        QVERIFY(dialog.statusText().isEmpty());
        dialog.setBytesDone(4096);
        QCOMPARE(dialog.findChild<QLineEdit *>()->text(), QStringLiteral("4,096 of 300,000 bytes"));
        // The next transfer starts with an empty line, not the last one's count.
        dialog.hide();
        dialog.setTotal(10);
        dialog.start(QStringLiteral("b.zip"), &abort);
        QVERIFY(dialog.statusText().isEmpty());
        dialog.setBytesDone(10);
        QCOMPARE(dialog.statusText(), QStringLiteral("10 of 10 bytes"));
    }

    void abortSetsTheFlagAndCloses_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Abort button") << false;
        QTest::newRow("cancel key") << true;
    }

    void abortSetsTheFlagAndCloses()
    {
        QFETCH(bool, byKey);
        TransferProgressDialog dialog;
        QSignalSpy aborted(&dialog, &TransferProgressDialog::aborted);
        bool abort = false;
        dialog.start(QStringLiteral("a.zip"), &abort);
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (byKey)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            QTest::mouseClick(dialog.abortButton(), Qt::LeftButton);
        QVERIFY(abort);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(aborted.count(), 1);

        // Shown again for the next transfer, with a thread-safe flag this time.
        std::atomic<bool> next{false};
        dialog.start(QStringLiteral("b.zip"), &next);
        QCOMPARE(dialog.position(), 0);
        dialog.hide(); // the owner hides it when the transfer ends: no abort
        QVERIFY(!next.load());
        dialog.show();
        dialog.abortButton()->click();
        QVERIFY(next.load());
    }
};

QTEST_MAIN(TransferProgressDialogTest)
#include "transfer_progress_dialog_test.moc"
