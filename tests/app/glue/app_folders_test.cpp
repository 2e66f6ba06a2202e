// SPDX-License-Identifier: MIT
// Where the window program's files go: the download folder the local pane starts in, and the queue and
// log of a fresh start in the data and state folders.
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

    void freshStartUsesTheDataAndStateFolders()
    {
        QTemporaryDir home;
        QTemporaryDir working;
        qputenv("HOME", home.path().toLocal8Bit());
        qunsetenv("XDG_DATA_HOME");
        qputenv("XDG_STATE_HOME", "relative/is/ignored");
        const bw::app::StartFiles fresh = bw::app::chooseStartFiles({}, working.path());
        QCOMPARE(
            fresh.queueFile, home.path() + QStringLiteral("/.local/share/Tolvenby/Bellwick/filelist.ftp"));
        QCOMPARE(fresh.logFile, home.path() + QStringLiteral("/.local/state/Tolvenby/Bellwick/Bellwick.log"));

        qputenv("XDG_STATE_HOME", (home.path() + QStringLiteral("/st")).toLocal8Bit());
        QCOMPARE(bw::app::chooseStartFiles({}, working.path()).logFile,
            home.path() + QStringLiteral("/st/Tolvenby/Bellwick/Bellwick.log"));

        // A named queue keeps the log in the working folder, as before.
        const bw::app::StartFiles named = bw::app::chooseStartFiles(QStringLiteral("q.ftp"), working.path());
        QCOMPARE(named.queueFile, working.path() + QStringLiteral("/q.ftp"));
        QCOMPARE(named.logFile, working.path() + QStringLiteral("/Bellwick.log"));
    }
};

QTEST_GUILESS_MAIN(AppFoldersTest)
#include "app_folders_test.moc"
