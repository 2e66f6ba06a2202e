// SPDX-License-Identifier: MIT
#include <cstdlib>

#include <QHeaderView>
#include <QMainWindow>
#include <QSettings>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "ui/window_state.h"

using namespace bw::ui;

namespace {

// A window with the parts whose sizes are remembered: a splitter and a list with columns.
struct Window
{
    QMainWindow window;
    QSplitter *splitter = new QSplitter(&window);
    QTreeView *list = new QTreeView;
    QStandardItemModel model{1, 3};

    Window()
    {
        splitter->setObjectName(QStringLiteral("split"));
        list->setObjectName(QStringLiteral("list"));
        list->setModel(&model);
        splitter->addWidget(list);
        splitter->addWidget(new QWidget);
        window.setCentralWidget(splitter);
    }
};

} // namespace

class WindowStateTest : public QObject
{
    Q_OBJECT

private slots:

    void sizesSplittersAndColumnsComeBack()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("bellwick.ini")), QSettings::IniFormat);
        {
            Window first;
            first.window.resize(640, 480);
            first.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&first.window));
            first.splitter->setSizes({100, 500});
            first.list->header()->resizeSection(1, 222);
            saveWindowState(settings, first.window);
        }
        QVERIFY(settings.childGroups().contains(QStringLiteral("Window")));

        Window second;
        QVERIFY(restoreWindowGeometry(settings, second.window));
        second.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second.window));
        restoreWindowLayout(settings, second.window);
        QCOMPARE(second.window.size(), QSize(640, 480));
        // The splitter keeps its proportion; the exact pixels depend on the platform's frame.
        QVERIFY(std::abs(second.splitter->sizes().value(0) - 100) <= 10);
        QCOMPARE(second.list->header()->sectionSize(1), 222);
    }

    void nothingRememberedKeepsTheDefaults()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("empty.ini")), QSettings::IniFormat);
        Window window;
        window.list->header()->resizeSection(1, 77);
        QVERIFY(!restoreWindowGeometry(settings, window.window));
        restoreWindowLayout(settings, window.window);
        QCOMPARE(window.list->header()->sectionSize(1), 77);
    }
};

QTEST_MAIN(WindowStateTest)
#include "window_state_test.moc"
