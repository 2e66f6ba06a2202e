// SPDX-License-Identifier: MIT
// The private folder View File downloads into: plain names only, one folder per file, owner-only modes,
// and nothing left behind.
#include <filesystem>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "browse/open_with_desktop.h"
#include "browse/view_file_folder.h"
#include "support/temp_dir.h"

using bw::browse::ViewFileFolder;
namespace fs = std::filesystem;

class ViewFileFolderTest : public QObject
{
    Q_OBJECT

private slots:

    void refusesNamesThatAreNoPlainFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("parent") << "..";
        QTest::newRow("dot") << ".";
        QTest::newRow("path") << "a/b.txt";
        QTest::newRow("absolute") << "/etc/passwd";
    }

    void refusesNamesThatAreNoPlainFile()
    {
        QFETCH(QString, name);
        ViewFileFolder folder;
        QVERIFY(!folder.newFile(name.toStdString()));
    }

    void eachFileGetsAPrivateFolderOfItsOwn()
    {
        std::string base;
        {
            ViewFileFolder folder;
            const std::optional<std::string> first = folder.newFile("same.txt");
            const std::optional<std::string> second = folder.newFile("same.txt");
            QVERIFY(first && second);
            QVERIFY(*first != *second);
            base = folder.path();
            for (const std::string &path : {*first, *second}) {
                QCOMPARE(fs::path(path).filename().string(), std::string("same.txt"));
                QCOMPARE(fs::path(path).parent_path().parent_path().string(), base);
                QCOMPARE(fs::file_size(path), std::uintmax_t(0));
                QCOMPARE(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
                QCOMPARE(fs::status(fs::path(path).parent_path()).permissions(), fs::perms::owner_all);
            }
            QCOMPARE(fs::status(base).permissions(), fs::perms::owner_all);

            // A failed view takes its file and folder away; paths it did not make stay.
            folder.discard(*first);
            QVERIFY(!fs::exists(fs::path(*first).parent_path()));
            QVERIFY(fs::exists(*second));
            bw::test::TempDir elsewhere;
            bw::test::writeFile(elsewhere / "keep" / "mine.txt", "mine");
            folder.discard((elsewhere / "keep" / "mine.txt").string());
            QVERIFY(fs::exists(elsewhere / "keep" / "mine.txt"));
        }
        QVERIFY(!base.empty());
        QVERIFY(!fs::exists(base));
    }

    void aFileTheDesktopCannotOpenOffersItsFolder()
    {
        QList<QUrl> asked;
        const auto open = [&asked](const QUrl &url) {
            asked << url;
            return asked.size() > 1; // the file fails, its folder opens
        };
        // The message box is modal: read it and press "Open Folder" from the loop it runs.
        QString said;
        QTimer::singleShot(0, [&said] {
            QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()), 5000);
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            said = box->text() + QLatin1Char('\n') + box->informativeText();
            box->defaultButton()->click();
        });
        bw::browse::openWithDesktop(QUrl::fromLocalFile(QStringLiteral("/tmp/view/a.xyz")), open);
        QVERIFY(said.contains(QStringLiteral("could not open \"a.xyz\"")));
        QVERIFY(said.contains(QStringLiteral("/tmp/view")));
        QCOMPARE(asked,
            (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/view/a.xyz")),
                QUrl::fromLocalFile(QStringLiteral("/tmp/view"))}));
    }
};

QTEST_MAIN(ViewFileFolderTest)
#include "view_file_folder_test.moc"
