// SPDX-License-Identifier: MIT
// The bellwick program as the desktop starts it: the queue file chosen from the command line, the
// first start with nothing on disk, the orderly end on SIGTERM, and the windowless automation mode
// running the queue against the test vsftpd.
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include "core/queue_list.h"
#include "engine/queue_file.h"
#include "support/server_folder.h"
#include "support/temp_dir.h"

using namespace bw;

namespace {

QString qpath(const std::filesystem::path &path)
{
    return QString::fromStdString(path.string());
}

// One run of the program in a folder of its own, with a home of its own (settings, autostart).
struct ProgramRun
{
    test::TempDir dir;
    QProcess process;

    ProgramRun()
    {
        std::filesystem::create_directories(dir / "home");
        std::filesystem::create_directories(dir / "run");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), qpath(dir / "home"));
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        environment.remove(QStringLiteral("XDG_DATA_HOME"));
        environment.remove(QStringLiteral("XDG_STATE_HOME"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(qpath(dir / "run"));
        process.setProgram(QStringLiteral(BW_GUI_PATH));
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    ~ProgramRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    void start(const QStringList &arguments)
    {
        process.setArguments(arguments);
        process.start();
        QVERIFY(process.waitForStarted(10000));
    }

    // The program is up once its diagnostic log exists (beside a queue file of the working folder or
    // named on the command line, else in the state folder); then SIGTERM asks for the orderly end.
    void stopWhenUp(const std::filesystem::path &log = "run/Bellwick.log")
    {
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(dir / log), 20000);
        process.terminate();
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    QString settingsFile() const { return qpath(dir / "home" / ".config" / "Tolvenby" / "Bellwick.conf"); }
};

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void firstStartCreatesQueueFileAndSettings();
    void namedQueueFileIsUsedInstead();
    void aQueueFileInTheWorkingFolderIsStillUsed();
    void automationRunsQueueWithoutWindow();
};

void StartupTest::firstStartCreatesQueueFileAndSettings()
{
    ProgramRun run;
    // Qt's own options are not queue files.
    run.start({QStringLiteral("-platform"), QStringLiteral("offscreen")});
    run.stopWhenUp("home/.local/state/Tolvenby/Bellwick/Bellwick.log");
    QVERIFY(!std::filesystem::exists(run.dir / "run" / "offscreen"));

    // Nothing lands in the folder the desktop started the program in.
    QVERIFY(std::filesystem::is_empty(run.dir / "run"));
    const std::filesystem::path queueFile = run.dir / "home/.local/share/Tolvenby/Bellwick/filelist.ftp";
    QVERIFY(std::filesystem::exists(queueFile));

    struct stat info
    {};

    QCOMPARE(::stat(queueFile.c_str(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
    core::QueueList queue;
    const engine::QueueFileLoadResult loaded = engine::loadQueueFile(queueFile, queue);
    QVERIFY(loaded.opened);
    QCOMPARE(loaded.loadedCount, 0);

    // Every setting but "SystemTray" was written when the window went.
    QSettings settings(run.settingsFile(), QSettings::IniFormat);
    for (const char *key :
        {"MaxThreads", "MaxThreadsPerSite", "RetryTime", "RetryCount", "Timeout", "HidePassword",
            "MinimizeTray", "Passive", "ShowSiteStart", "TimeStamp", "UseDownloadPath", "LongLocalPaths"})
        QVERIFY2(settings.contains(QStringLiteral("Options/") + QLatin1String(key)), key);
    QVERIFY(settings.contains(QStringLiteral("Paths/DownloadPath")));
    QVERIFY(!settings.contains(QStringLiteral("Options/SystemTray")));
    QCOMPARE(settings.value(QStringLiteral("Options/MaxThreads")).toInt(), 10);
    QCOMPARE(settings.value(QStringLiteral("Options/Passive")).toInt(), 1);
}

void StartupTest::aQueueFileInTheWorkingFolderIsStillUsed()
{
    ProgramRun run;
    core::QueueList source;
    source.addItem("ftp://127.0.0.1:1/pub/never.bin", (run.dir / "never.bin").string());
    QVERIFY(engine::saveQueueFile(run.dir / "run" / "filelist.ftp", source));
    run.start({});
    run.stopWhenUp();
    core::QueueList queue;
    QCOMPARE(engine::loadQueueFile(run.dir / "run" / "filelist.ftp", queue).loadedCount, 1);
    QVERIFY(!std::filesystem::exists(run.dir / "home/.local/share/Tolvenby/Bellwick/filelist.ftp"));
}

void StartupTest::namedQueueFileIsUsedInstead()
{
    ProgramRun run;
    // An item no worker can finish (nothing listens on port 1), so it is still there at the end.
    core::QueueList source;
    source.addItem("ftp://127.0.0.1:1/pub/never.bin", (run.dir / "never.bin").string());
    QVERIFY(engine::saveQueueFile(run.dir / "run" / "mine.ftp", source));

    run.start({QStringLiteral("mine.ftp")});
    run.stopWhenUp();
    QVERIFY(!std::filesystem::exists(run.dir / "run" / "filelist.ftp"));
    core::QueueList queue;
    QCOMPARE(engine::loadQueueFile(run.dir / "run" / "mine.ftp", queue).loadedCount, 1);
    QCOMPARE(queue.snapshot().front().url, std::string("ftp://127.0.0.1:1/pub/never.bin"));
}

void StartupTest::automationRunsQueueWithoutWindow()
{
    const test::FtpServer server = test::ftpServer();
    QVERIFY2(test::isUsable(server), test::kFtpServerMissing);
    const test::ServerFolder folder(server, "automation");
    const std::string content = test::patternBytes(512 * 1024 + 3, 9);
    test::writeFile(folder / "data.bin", content);

    ProgramRun run;
    const std::filesystem::path target = run.dir / "data.bin";
    core::QueueList source;
    source.addItem(folder.url("data.bin"), target.string());
    QVERIFY(engine::saveQueueFile(run.dir / "run" / "batch.ftp", source));

    // No display at all: the automation switch never opens a window.
    QProcessEnvironment environment = run.process.processEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    run.process.setProcessEnvironment(environment);
    run.start({QStringLiteral("-Automation"), QStringLiteral("batch.ftp")});
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(target) && test::readFile(target) == content, 30000);
    // The whole file can be there before the job has read the closing reply and ended the item: a stop
    // then would leave it Idle. The autosave shows when the item has ended.
    const auto savedCount = [&run] {
        core::QueueList saved;
        return engine::loadQueueFile(run.dir / "run" / "batch.ftp", saved).declaredCount;
    };
    QTRY_COMPARE_WITH_TIMEOUT(savedCount(), 0, 30000);
    run.stopWhenUp();

    // The finished item is not saved again.
    core::QueueList queue;
    const engine::QueueFileLoadResult loaded = engine::loadQueueFile(run.dir / "run" / "batch.ftp", queue);
    QVERIFY(loaded.opened);
    QCOMPARE(loaded.declaredCount, 0);
}

QTEST_GUILESS_MAIN(StartupTest)
#include "startup_test.moc"
