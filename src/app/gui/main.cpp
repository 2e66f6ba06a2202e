// SPDX-License-Identifier: MIT
// Bellwick's window program. Starts the queue engine, opens the queue file named on the command line
// (or "filelist.ftp", created empty when missing) and shows the main window, or keeps it in the tray.
// With -Embedding, -Automation, /Embedding or /Automation it runs the queue without a window until
// SIGINT or SIGTERM, then saves the queue.
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>

#include "app/glue/app_folders.h"
#include "app/glue/bellwick_doc.h"
#include "app/glue/notification_bridge.h"
#include "app/glue/qt_settings_store.h"
#include "core/queue_events.h"
#include "engine/engine.h"
#include "engine/keyring_service.h"
#include "ui/main_frame.h"
#include "ui/manual_location.h"
#include "ui/window_state.h"
#include "widgets/app_icons.h"

namespace {

struct CommandLine
{
    bool automation = false;
    QString queueFile; // empty: the default queue file
};

bool isAutomationSwitch(const QString &argument)
{
    const QString lower = argument.toLower();
    return lower == u"-embedding" || lower == u"/embedding" || lower == u"-automation"
        || lower == u"/automation";
}

// `arguments` are the application's, with Qt's own options (-platform, -style, ...) already taken out.
CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (isAutomationSwitch(argument))
            line.automation = true;
        else if (line.queueFile.isEmpty() && !argument.startsWith(u'-'))
            line.queueFile = argument;
    }
    return line;
}

// SIGINT and SIGTERM reach the event loop through a pipe, so the shutdown runs on the GUI thread.
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

QSocketNotifier *watchTerminationSignals(QObject *parent)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;

    struct sigaction action
    {};

    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {}
    });
    return notifier;
}

bw::app::StartFiles startFiles(const CommandLine &line)
{
    return bw::app::chooseStartFiles(line.queueFile, QDir::currentPath());
}

QString queueFilePath(const CommandLine &line)
{
    if (!line.queueFile.isEmpty())
        return line.queueFile;
    const QString folder = QFileInfo(startFiles(line).queueFile).path();
    QDir().mkpath(folder);
    return bw::app::CBellwickDoc::ensureDefaultQueueFile(folder);
}

QString manualPath()
{
    return bw::ui::findManual(QCoreApplication::applicationDirPath(),
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
}

// The engine of both modes: the diagnostic log beside the queue file or in the state folder, and
// downloads without a download folder in the user's download folder (the local pane moves it later).
bw::engine::EngineOptions engineOptions(const CommandLine &line, bw::engine::KeyringService &keyring)
{
    bw::engine::EngineOptions options;
    options.jobTiming.keyring = &keyring;
    const QString logFile = startFiles(line).logFile;
    QDir().mkpath(QFileInfo(logFile).path());
    options.diagnosticLogPath = logFile.toStdString();
    options.localFolder = bw::app::downloadFolder().toStdString();
    options.trustStorePath = bw::engine::defaultTrustStorePath().string();
    return options;
}

// Without a window: the engine works through the queue file until told to stop.
int runWithoutWindow(QCoreApplication &app, const CommandLine &line, QSocketNotifier *stopSignals)
{
    bw::engine::KeyringService keyring; // before the engine, whose jobs use it
    bw::engine::Engine engine(engineOptions(line, keyring));
    bw::app::QtSettingsStore store;
    keyring.setUsedForFiles(!engine.loadSettings(store).passwordsInFiles);
    bw::app::CBellwickDoc document(engine.queue());
    document.setKeyring(&keyring);
    document.openDocument(queueFilePath(line));

    QTimer autosave;
    autosave.setInterval(10000);
    QObject::connect(&autosave, &QTimer::timeout, &document, [&document] { document.save(); });
    autosave.start();
    if (stopSignals)
        QObject::connect(stopSignals, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
    engine.start();
    app.exec();

    engine.stopAndWait();
    document.save();
    return 0;
}

int runWindow(QApplication &app, const CommandLine &line, QSocketNotifier *stopSignals)
{
    app.setQuitOnLastWindowClosed(false); // hiding into the tray is not quitting
    bw::engine::KeyringService keyring; // before the engine, whose jobs use it
    bw::engine::Engine engine(engineOptions(line, keyring));
    bw::app::QtSettingsStore store;
    bw::core::QueueEvents events(engine.queue());
    bw::app::NotificationBridge bridge(events);
    bw::app::CBellwickDoc document(engine.queue());
    document.setKeyring(&keyring);
    const QString queueFile = queueFilePath(line);

    bw::ui::MainFrameOptions options = bw::ui::MainFrameOptions::defaults();
    options.manualPath = manualPath();
    int status = 0;
    {
        bw::ui::CMainFrame frame({engine, store, document, &events}, options);
        bw::app::connectBridge(bridge, frame);
        // Window geometry, splitters and columns sit in a "Window" group beside the program's settings.
        QSettings windowSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tolvenby"),
            QStringLiteral("Bellwick"));
        QObject::connect(&frame, &bw::ui::CMainFrame::closed, &frame,
            [&windowSettings, &frame] { bw::ui::saveWindowState(windowSettings, frame); });
        QObject::connect(
            &frame, &bw::ui::CMainFrame::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        document.openDocument(queueFile);
        frame.startEngine();
        bw::ui::restoreWindowGeometry(windowSettings, frame);
        if (!frame.inTray()) {
            frame.show();
            bw::ui::restoreWindowLayout(windowSettings, frame);
        }
        if (stopSignals)
            QObject::connect(stopSignals, &QSocketNotifier::activated, &frame, [&frame] { frame.close(); });
        status = app.exec();
        if (!frame.isClosed())
            frame.close();
        bridge.close();
    }
    // The frame's close sequence stopped the engine; make sure of it before the queue goes.
    engine.stopAndWait();
    store.sync();
    return status;
}

// Qt's own texts (standard buttons and dialogs) and Bellwick's in the user's language, where their
// translations are installed; without them every text stays as written.
void installTranslations(QCoreApplication &app)
{
    const QLocale locale;
    auto *qt = new QTranslator(&app);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    auto *own = new QTranslator(&app);
    if (own->load(locale, QStringLiteral("bellwick"), QStringLiteral("_"),
            QCoreApplication::applicationDirPath() + QStringLiteral("/../share/bellwick/translations")))
        QCoreApplication::installTranslator(own);
}

} // namespace

int main(int argc, char **argv)
{
    // The switch decides whether a window system is needed at all, so it is looked for first.
    bool automation = false;
    for (int i = 1; i < argc; ++i)
        automation = automation || isAutomationSwitch(QString::fromLocal8Bit(argv[i]));
    if (automation) {
        QCoreApplication app(argc, argv);
        app.setOrganizationName(QStringLiteral("Tolvenby"));
        app.setApplicationName(QStringLiteral("Bellwick"));
        return runWithoutWindow(app, parseCommandLine(app.arguments()), watchTerminationSignals(&app));
    }
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Tolvenby"));
    app.setApplicationName(QStringLiteral("Bellwick"));
    app.setDesktopFileName(QStringLiteral("bellwick"));
    app.setWindowIcon(bw::widgets::programIcon());
    installTranslations(app);
    // Signals that arrive before the window exists wait in the pipe until the event loop runs.
    QSocketNotifier *stopSignals = watchTerminationSignals(&app);
    return runWindow(app, parseCommandLine(app.arguments()), stopSignals);
}
