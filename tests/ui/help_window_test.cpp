// SPDX-License-Identifier: MIT
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "ui/help_window.h"
#include "ui/manual_location.h"

using namespace bw::ui;

class HelpWindowTest : public QObject
{
    Q_OBJECT

private slots:

    void init()
    {
        QVERIFY(m_dir.isValid());
        m_manual = m_dir.filePath(QStringLiteral("manual.html"));
        QFile file(m_manual);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<html><body><h1>Bellwick manual</h1><p>Adding a URL</p></body></html>");
    }

    void theDesktopBrowserGoesFirst()
    {
        QWidget parent;
        QList<QUrl> opened;
        HelpWindow *window = showHelpTopics(m_manual, &parent, [&](const QUrl &url) {
            opened << url;
            return true;
        });
        QCOMPARE(window, nullptr);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(m_manual)});
        QVERIFY(!parent.findChild<HelpWindow *>());
    }

    void withoutABrowserTheManualShowsInItsOwnWindow()
    {
        QWidget parent;
        HelpWindow *window = showHelpTopics(m_manual, &parent, [](const QUrl &) { return false; });
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QVERIFY(window->browser()->toPlainText().contains(QStringLiteral("Adding a URL")));
        QVERIFY(window->notice().contains(QStringLiteral("could not open the manual")));
        // A second Help Topics brings back the same window instead of stacking another.
        QCOMPARE(showHelpTopics(m_manual, &parent, [](const QUrl &) { return false; }), window);
        QCOMPARE(parent.findChildren<HelpWindow *>().size(), 1);
    }

    void aMissingManualIsSaidPlainly()
    {
        QWidget parent;
        bool asked = false;
        const QString missing = m_dir.filePath(QStringLiteral("gone.html"));
        HelpWindow *window = showHelpTopics(missing, &parent, [&](const QUrl &) { return asked = true; });
        QVERIFY(!asked);
        QVERIFY(window && window->isVisible());
        QVERIFY(window->browser()->toPlainText().contains(QStringLiteral("not installed")));
        QVERIFY(window->browser()->toPlainText().contains(missing));
    }

    void theManualIsFoundWhereItIsInstalledOrBesideTheBuild()
    {
        const QString root = m_dir.path();
        QVERIFY(QDir(root).mkpath(QStringLiteral("usr/bin")));
        QVERIFY(QDir(root).mkpath(QStringLiteral("xdg/doc/Bellwick")));
        QVERIFY(QDir(root).mkpath(QStringLiteral("usr/bin/docs")));
        const QString program = root + QStringLiteral("/usr/bin");
        const QStringList dataDirs{root + QStringLiteral("/nowhere"), root + QStringLiteral("/xdg")};
        QCOMPARE(findManual(program, dataDirs), QString());
        QVERIFY(QFile::copy(m_manual, program + QStringLiteral("/docs/manual.html")));
        QCOMPARE(findManual(program, dataDirs), program + QStringLiteral("/docs/manual.html"));
        QVERIFY(QFile::copy(m_manual, root + QStringLiteral("/xdg/doc/Bellwick/manual.html")));
        QCOMPARE(findManual(program, dataDirs), root + QStringLiteral("/xdg/doc/Bellwick/manual.html"));
    }

private:
    QTemporaryDir m_dir;
    QString m_manual;
};

QTEST_MAIN(HelpWindowTest)
#include "help_window_test.moc"
