// SPDX-License-Identifier: MIT
// The window's controls that used to do nothing: hidden Attach and context help, the tray icon's single
// click, "Connecting..." after a failed Connect, and the clipboard options reaching the watch.
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "browse/site_dialog.h"
#include "frame_fixture.h"
#include "ui/clipboard_watcher.h"
#include "ui/main_frame.h"

using namespace bw;

class MainFrameInputTest : public QObject
{
    Q_OBJECT

private slots:

    void deadControlsAreHidden()
    {
        test::FrameBundle b;
        ui::CMainFrame &frame = b.create();
        QVERIFY(!frame.action(QStringLiteral("attach"))->isVisible());
        QVERIFY(!frame.action(QStringLiteral("contextHelp"))->isVisible());
    }

    void trayClickTogglesTheWindow()
    {
        test::FrameBundle b;
        b.options.trayAvailable = true;
        ui::CMainFrame &frame = b.create();
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.toggleTray();
        QVERIFY(frame.inTray());
        frame.onTrayActivated(QSystemTrayIcon::Trigger); // a left click
        QVERIFY(!frame.inTray());
        frame.onTrayActivated(QSystemTrayIcon::Trigger);
        QVERIFY(frame.inTray());
        // The old trays send Trigger before DoubleClick: the double click must not toggle it back.
        frame.onTrayActivated(QSystemTrayIcon::DoubleClick);
        QVERIFY(frame.inTray());
        frame.onTrayActivated(QSystemTrayIcon::Context);
        QVERIFY(frame.inTray());
    }

    void failedConnectLeavesTheStatusBar()
    {
        test::FrameBundle b;
        b.engine.store.writeInt("Options", "ShowSiteStart", 0);
        b.options.runSiteDialog = [](browse::CSiteDialog &dialog) {
            dialog.nameEdit()->setText(QStringLiteral("nobody home"));
            dialog.addressEdit()->setText(QStringLiteral("127.0.0.1"));
            dialog.portEdit()->setText(QStringLiteral("1")); // nothing listens there
            dialog.addSite();
            dialog.connectSite();
            return dialog.result();
        };
        ui::CMainFrame &frame = b.create();
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.connectCommand();
        QCOMPARE(frame.pathPane()->text(), QStringLiteral("Connecting..."));
        frame.startEngine();
        QTRY_COMPARE_WITH_TIMEOUT(
            frame.pathPane()->text(), QString::fromStdString(b.engine.downloads().string()), 20000);
    }

    void clipboardOptionsAreLoaded()
    {
        test::FrameBundle b;
        b.engine.store.writeInt("Options", "MonitorClipboard", 1);
        b.engine.store.writeInt("Options", "ExtractClipboard", 1);
        ui::CMainFrame &frame = b.create();
        QVERIFY(frame.clipboardWatcher()->options().monitor);
        QVERIFY(!frame.clipboardWatcher()->options().verify);
        QVERIFY(frame.clipboardWatcher()->options().extract);
    }
};

QTEST_MAIN(MainFrameInputTest)
#include "main_frame_input_test.moc"
