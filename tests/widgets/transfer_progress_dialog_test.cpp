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
