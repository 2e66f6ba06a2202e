// SPDX-License-Identifier: MIT
#include <QLabel>
#include <QTest>

#include "ui/about_dialog.h"

using namespace bw::ui;

class AboutDialogTest : public QObject
{
    Q_OBJECT

private slots:

    void aboutBoxShowsTheVersion()
    {
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Bellwick"));
        auto *version = about.findChild<QLabel *>(QStringLiteral("version"));
        QVERIFY(version);
        QCOMPARE(version->text(), QStringLiteral("Bellwick Version 5.0 Build 13"));
    }
};

QTEST_MAIN(AboutDialogTest)
#include "about_dialog_test.moc"
