// SPDX-License-Identifier: MIT
// The local pane on a folder of its own: rows, sizes and dates, moving between folders, the file
// commands, the drag text, and what it refuses while the remote browser holds no connection.
#include <filesystem>

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "browse/folder_watch.h"
#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "core/queue_list.h"
#include "engine/connection_lease.h"
#include "support/temp_dir.h"
#include "widgets/row_texts.h"

using namespace bw::browse;
using bw::test::rowTexts;
namespace fs = std::filesystem;

namespace {

QStringList menuTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << action->text();
    return texts;
}

} // namespace

class LocalViewTest : public QObject
{
    Q_OBJECT

private:
    bw::test::TempDir m_dir;
    fs::path m_home;
    bool m_confirm = true;
    QStringList m_asked;
    QString m_answer;
    QList<QUrl> m_opened;
    QStringList m_errors;

    BrowsePrompts prompts()
    {
        BrowsePrompts p;
        p.confirm = [this](QWidget *, const QString &text, const QString &caption) {
            m_asked << caption + QLatin1Char('|') + text;
            return m_confirm;
        };
        p.askName = [this](QWidget *, const QString &caption, const QString &label,
                        const QString &text) -> std::optional<QString> {
            m_asked << caption + QLatin1Char('|') + label + QLatin1Char('|') + text;
            if (m_answer.isEmpty())
                return std::nullopt;
            return m_answer;
        };
        p.openUrl = [this](const QUrl &url) {
            m_opened << url;
        };
        p.showError = [this](QWidget *, const QString &text, const QString &caption) {
            m_errors << caption + QLatin1Char('|') + text;
        };
        return p;
    }

    void selectNames(CLocalView &view, const QStringList &names)
    {
        view.list()->clearSelection();
        for (const QString &name : names) {
            const int row = view.rowOf(name);
            QVERIFY2(row >= 0, qPrintable(name));
            view.list()->selectRow(row, false);
        }
    }

private slots:

    void init()
    {
        m_home = m_dir / ("case" + std::to_string(std::rand()));
        fs::create_directories(m_home);
        m_confirm = true;
        m_asked.clear();
        m_answer.clear();
        m_opened.clear();
        m_errors.clear();
    }

    void listingRowsSizesAndDates()
    {
        fs::create_directories(m_home / "b");
        fs::create_directories(m_home / "!first");
        bw::test::writeFile(m_home / "zero", "");
        bw::test::writeFile(m_home / "Big", std::string(1234567, 'x'));
        CLocalView view;
        view.setDirectory(m_home.string());
        view.listDirectory();
        QCOMPARE(rowTexts(view), QStringList({"!first", "..", "b", "Big", "zero"}));
        const int big = view.rowOf(QStringLiteral("Big"));
        QCOMPARE(view.list()->itemText(big, 1), QStringLiteral("1,234,567"));
        QCOMPARE(view.entry(big).size, std::uint64_t(0)); // the size lives only in the text
        QCOMPARE(view.list()->itemText(view.rowOf(QStringLiteral("zero")), 1), QString());
        const QDateTime modified =
            QFileInfo(QString::fromStdString((m_home / "Big").string())).lastModified();
        QCOMPARE(view.list()->itemText(big, 2),
            dateText(modified.date().year(), modified.date().month(), modified.date().day(),
                modified.time().hour(), modified.time().minute()));
        const int folder = view.rowOf(QStringLiteral("b"));
        QCOMPARE(view.list()->itemText(folder, 1), QString());
        QCOMPARE(view.list()->itemText(folder, 2), QString());
        QVERIFY(view.entry(folder).isDirectory);
        QCOMPARE(view.directoryBox()->path(), QString::fromStdString(m_home.string()));
    }

    void filesWrittenOnDiskAppearWithoutRefresh()
    {
        bw::test::writeFile(m_home / "keep.txt", "k");
        CLocalView view;
        view.setDirectory(m_home.string());
        view.listDirectory();
        QCOMPARE(view.folderWatch()->folder(), QString::fromStdString(m_home.string()));
        selectNames(view, {QStringLiteral("keep.txt")});
        QSignalSpy changes(view.folderWatch(), &FolderWatch::folderChanged);
        // A burst of writes, as a download makes, is one re-list after a quiet spell.
        for (int i = 0; i < 5; ++i)
            bw::test::writeFile(m_home / ("part" + std::to_string(i) + ".bin"), "x");
        QTRY_VERIFY_WITH_TIMEOUT(view.rowOf(QStringLiteral("part4.bin")) >= 0, 10000);
        QVERIFY(changes.size() >= 1 && changes.size() < 5);
        // The user's selection survives the re-list.
        QCOMPARE(view.list()->selectedRows(), QList<int>{view.rowOf(QStringLiteral("keep.txt"))});
        // Moving away stops watching the old folder.
        fs::create_directories(m_home / "sub");
        QTRY_VERIFY_WITH_TIMEOUT(view.rowOf(QStringLiteral("sub")) >= 0, 10000);
        view.setDirectory((m_home / "sub").string());
        view.listDirectory();
        QCOMPARE(view.folderWatch()->folder(), QString::fromStdString((m_home / "sub").string()));
        QCOMPARE(view.directoryBox()->path(), QString::fromStdString((m_home / "sub").string()));
    }

    void keysOpenGoUpRenameRefreshAndTypeAhead()
    {
        fs::create_directories(m_home / "inner");
        bw::test::writeFile(m_home / "inner" / "notes.txt", "n");
        bw::test::writeFile(m_home / "zebra.txt", "z");
        CLocalView view;
        view.setPrompts(prompts());
        view.setDirectory(m_home.string());
        view.listDirectory();
        bw::widgets::TiledListCtrl *rows = view.list();
        // Enter on a folder goes into it.
        selectNames(view, {QStringLiteral("inner")});
        rows->setCurrentIndex(rows->listModel()->index(view.rowOf(QStringLiteral("inner")), 0));
        QTest::keyClick(rows, Qt::Key_Return);
        QCOMPARE(view.directory(), (m_home / "inner").string());
        QVERIFY(view.rowOf(QStringLiteral("notes.txt")) >= 0);
        // Enter on a file with no site open opens it.
        selectNames(view, {QStringLiteral("notes.txt")});
        rows->setCurrentIndex(rows->listModel()->index(view.rowOf(QStringLiteral("notes.txt")), 0));
        QTest::keyClick(rows, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(m_opened.size(), 1);
        // Backspace goes up.
        QTest::keyClick(rows, Qt::Key_Backspace);
        QCOMPARE(view.directory(), m_home.string());
        // F2 renames, F5 shows what changed on disk.
        selectNames(view, {QStringLiteral("zebra.txt")});
        m_answer = QStringLiteral("yak.txt");
        QTest::keyClick(rows, Qt::Key_F2);
        QVERIFY(fs::exists(m_home / "yak.txt"));
        bw::test::writeFile(m_home / "fresh.txt", "f");
        QTest::keyClick(rows, Qt::Key_F5);
        QVERIFY(view.rowOf(QStringLiteral("fresh.txt")) >= 0);
        // Typing a name's start selects it.
        rows->clearSelection();
        QTest::keyClicks(rows, QStringLiteral("ya"));
        QCOMPARE(rows->currentIndex().row(), view.rowOf(QStringLiteral("yak.txt")));
    }

    void firstShowFillsTheVolumes()
    {
        CLocalView view;
        view.setDirectory(m_home.string());
        view.show();
        QVERIFY(view.driveList()->count() > 0);
        // The places first, by name, then the volumes.
        QCOMPARE(view.driveList()->itemText(0), QStringLiteral("Home"));
        QCOMPARE(view.driveList()->itemData(0).toString(), QDir::homePath());
        QVERIFY(view.driveList()->findData(QStringLiteral("/")) >= 0);
        // The selected place holds the working directory.
        const QString root = view.driveList()->currentData().toString();
        QVERIFY(!root.isEmpty());
        QVERIFY(QString::fromStdString(m_home.string()).startsWith(root));
        QVERIFY(view.list()->rowCount() >= 1);
    }

    void typedPathIsEntered()
    {
        fs::create_directories(m_home / "sub");
        CLocalView view;
        view.setPrompts(prompts());
        view.setDirectory(m_home.string());
        view.enterTypedPath(QStringLiteral("sub"));
        QCOMPARE(fs::path(view.directory()), m_home / "sub");
        view.enterTypedPath(QStringLiteral("/no/such/folder"));
        QCOMPARE(fs::path(view.directory()), m_home / "sub");
        QCOMPARE(m_errors, QStringList{"Local Folder|There is no folder \"/no/such/folder\"."});
        QCOMPARE(view.directoryBox()->path(), QString::fromStdString((m_home / "sub").string()));
        view.enterTypedPath(QStringLiteral("~"));
        QCOMPARE(QString::fromStdString(view.directory()), QDir::homePath());

        // Too long for the box: the middle gives way, the whole folder stays behind it.
        const fs::path deep = m_home / std::string(120, 'd') / "end";
        fs::create_directories(deep);
        view.resize(240, 200);
        view.show();
        view.enterTypedPath(QString::fromStdString(deep.string()));
        QVERIFY(view.directoryBox()->text().contains(QChar(0x2026)));
        QVERIFY(view.directoryBox()->text().endsWith(QStringLiteral("end")));
        QCOMPARE(view.directoryBox()->path(), QString::fromStdString(deep.string()));
    }

    void openDirectoryAndBack()
    {
        fs::create_directories(m_home / "sub");
        bw::test::writeFile(m_home / "sub" / "inner.txt", "abc");
        bw::test::writeFile(m_home / "file.txt", "abc");
        CLocalView view;
        view.setDirectory(m_home.string());
        view.listDirectory();
        // The pane keeps its folder to itself: the process's working directory never moves.
        const fs::path workingDirectory = fs::current_path();
        QSignalSpy moved(&view, &CLocalView::directoryChanged);
        selectNames(view, {"file.txt"});
        view.openDirectory(); // a file: nothing happens
        QCOMPARE(fs::path(view.directory()), m_home);
        QCOMPARE(moved.count(), 0);
        selectNames(view, {"sub"});
        view.openDirectory();
        QCOMPARE(fs::path(view.directory()), m_home / "sub");
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.last().at(0).toString(), QString::fromStdString((m_home / "sub").string()));
        QVERIFY(rowTexts(view).contains(QStringLiteral("inner.txt")));
        QCOMPARE(view.directoryBox()->path(), QString::fromStdString((m_home / "sub").string()));
        selectNames(view, {".."});
        view.openDirectory();
        QCOMPARE(fs::path(view.directory()), m_home);
        fs::remove_all(m_home / "sub");
        view.changeDrive(QString::fromStdString((m_home / "sub").string())); // gone: the pane stays
        QCOMPARE(fs::path(view.directory()), m_home);
        view.changeDrive(QStringLiteral("/"));
        QCOMPARE(fs::path(view.directory()), fs::path("/"));
        QCOMPARE(view.directoryPrefix(), std::string("/"));
        QCOMPARE(fs::current_path(), workingDirectory);
    }

    void deleteRemovesFilesAndEmptyFolders()
    {
        fs::create_directories(m_home / "empty");
        fs::create_directories(m_home / "full");
        bw::test::writeFile(m_home / "full" / "keep", "k");
        bw::test::writeFile(m_home / "one", "1");
        bw::test::writeFile(m_home / "two", "2");
        CLocalView view;
        view.setDirectory(m_home.string());
        view.setPrompts(prompts());
        view.listDirectory();

        m_confirm = false;
        selectNames(view, {"empty", "one"});
        view.deleteSelection();
        QVERIFY(fs::exists(m_home / "one"));
        QCOMPARE(m_asked, QStringList({"Delete|Delete \"empty\", \"one\"?"}));

        m_confirm = true;
        selectNames(view, {"..", "empty", "full", "one", "two"});
        view.deleteSelection();
        QVERIFY(!fs::exists(m_home / "empty"));
        QVERIFY(!fs::exists(m_home / "one"));
        QVERIFY(!fs::exists(m_home / "two"));
        QVERIFY(fs::exists(m_home / "full" / "keep"));
        QVERIFY(fs::exists(m_home)); // ".." is never removed
        QCOMPARE(rowTexts(view), QStringList({"..", "full"}));
    }

    void renameAndMakeFolder()
    {
        bw::test::writeFile(m_home / "old.txt", "x");
        CLocalView view;
        view.setDirectory(m_home.string());
        view.setPrompts(prompts());
        view.listDirectory();
        selectNames(view, {"old.txt"});
        m_answer = QStringLiteral("new.txt");
        view.renameSelection();
        QCOMPARE(m_asked.last(), QStringLiteral("Rename|New name:|old.txt"));
        QVERIFY(fs::exists(m_home / "new.txt"));
        QVERIFY(view.rowOf(QStringLiteral("new.txt")) >= 0);

        m_answer = QStringLiteral("made");
        view.makeFolder();
        QCOMPARE(m_asked.last(), QStringLiteral("New Folder|Folder name:|")); // starts empty
        QVERIFY(fs::is_directory(m_home / "made"));
        QVERIFY(view.entry(view.rowOf(QStringLiteral("made"))).isDirectory);

        m_answer.clear(); // Cancel
        view.makeFolder();
        QCOMPARE(rowTexts(view), QStringList({"..", "made", "new.txt"}));
    }

    void renameOntoAnExistingNameIsRefused()
    {
        bw::test::writeFile(m_home / "keep.txt", "precious");
        bw::test::writeFile(m_home / "other.txt", "other");
        fs::create_directories(m_home / "full");
        fs::create_directories(m_home / "empty");
        CLocalView view;
        view.setDirectory(m_home.string());
        view.setPrompts(prompts());
        view.setDirectory(m_home.string());
        view.listDirectory();

        // A file onto a file, and a folder onto an empty folder (which rename() would also replace).
        const QList<QPair<QString, QString>> cases{{"other.txt", "keep.txt"}, {"full", "empty"}};
        for (const auto &[from, onto] : cases) {
            m_errors.clear();
            selectNames(view, {from});
            m_answer = onto;
            view.renameSelection();
            QCOMPARE(m_errors.size(), 1);
            QVERIFY2(m_errors.first().startsWith(QStringLiteral("Rename|")), qPrintable(m_errors.first()));
            QVERIFY2(m_errors.first().contains(onto), qPrintable(m_errors.first()));
            QVERIFY(fs::exists(m_home / from.toStdString()));
            QVERIFY(fs::exists(m_home / onto.toStdString()));
        }
        QCOMPARE(bw::test::readFile(m_home / "keep.txt"), std::string("precious"));
        QCOMPARE(bw::test::readFile(m_home / "other.txt"), std::string("other"));
        QCOMPARE(rowTexts(view), QStringList({"..", "empty", "full", "keep.txt", "other.txt"}));

        // Keeping the name is no rename and no error.
        m_errors.clear();
        selectNames(view, {"keep.txt"});
        m_answer = QStringLiteral("keep.txt");
        view.renameSelection();
        QVERIFY(m_errors.isEmpty());
    }

    void viewOpensTheFile()
    {
        bw::test::writeFile(m_home / "doc.txt", "x");
        CLocalView view;
        view.setDirectory(m_home.string());
        view.setPrompts(prompts());
        view.listDirectory();
        selectNames(view, {"doc.txt"});
        view.viewSelection();
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened[0].toLocalFile(), QString::fromStdString((m_home / "doc.txt").string()));
    }

    void contextMenus()
    {
        CLocalView view;
        view.setDirectory(m_home.string());
        QMenu *onRow = view.buildContextMenu(0);
        QCOMPARE(menuTexts(onRow),
            QStringList({"Rename...", "View File...", "Make Dir...", "Refresh", "", "Delete"}));
        QMenu *offRow = view.buildContextMenu(-1);
        QCOMPARE(menuTexts(offRow), QStringList({"Make Dir...", "Refresh"}));
    }

    void dragTextAndDetachedBrowser()
    {
        bw::test::writeFile(m_home / "a.txt", "a");
        bw::test::writeFile(m_home / "b.txt", "b");
        bw::core::QueueList queue;
        bw::engine::LeaseBoard leases;
        CManFtpView remote(queue, leases);
        CLocalView view;
        view.setDirectory(m_home.string());
        view.setRemoteBrowser(&remote);
        view.listDirectory();
        selectNames(view, {"a.txt", "b.txt"});
        const QString prefix = QString::fromStdString(view.directoryPrefix());
        QCOMPARE(view.dragText(),
            QStringLiteral("file://") + prefix + QStringLiteral("a.txt") + QChar(8)
                + QStringLiteral("file://") + prefix + QStringLiteral("b.txt"));
        // Nothing to upload to while the browser holds no connection.
        QVERIFY(!view.canUpload());
        view.uploadSelection();
        QVERIFY(!view.dropEnabled());
        view.dropText(QStringLiteral("{1}ftp://u:p@h:21/dir/a.txt"));
        QCOMPARE(rowTexts(view), QStringList({"..", "a.txt", "b.txt"}));
    }
};

QTEST_MAIN(LocalViewTest)
#include "local_view_test.moc"
