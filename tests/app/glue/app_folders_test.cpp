// SPDX-License-Identifier: MIT
// The download folder the local pane starts in (the queue and log folders: tests/app/gui/startup_test).
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/glue/app_folders.h"

class AppFoldersTest : public QObject
{
    Q_OBJECT

private slots:

    void downloadFolderIsTheFirstThatExists_data()
    {
        QTest::addColumn<QString>("userDirs"); // ~/.config/user-dirs.dirs, empty: none
        QTest::addColumn<QStringList>("folders"); // made below the home folder
        QTest::addColumn<QString>("expected"); // below the home folder
        QTest::newRow("user-dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n"
                                   << QStringList{"Fetched", "Downloads"} << "/Fetched";
        QTest::newRow("user-dirs folder missing") << "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n"
                                                  << QStringList{"Downloads"} << "/Downloads";
        QTest::newRow("no user-dirs") << "" << QStringList{"Downloads"} << "/Downloads";
        QTest::newRow("nothing") << "" << QStringList{} << "";
    }

    void downloadFolderIsTheFirstThatExists()
    {
        QFETCH(QString, userDirs);
        QFETCH(QStringList, folders);
        QFETCH(QString, expected);
        QTemporaryDir home;
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
        QDir(home.path()).mkpath(QStringLiteral(".config"));
        if (!userDirs.isEmpty()) {
            QFile file(home.path() + QStringLiteral("/.config/user-dirs.dirs"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(userDirs.toUtf8());
        }
        for (const QString &folder : std::as_const(folders))
            QDir(home.path()).mkpath(folder);
        QCOMPARE(bw::app::downloadFolder(), home.path() + expected);
    }
};

QTEST_GUILESS_MAIN(AppFoldersTest)
#include "app_folders_test.moc"
