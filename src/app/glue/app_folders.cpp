// SPDX-License-Identifier: MIT
#include "app/glue/app_folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace bw::app {

namespace {

constexpr const char *kQueueFileName = "filelist.ftp";
constexpr const char *kLogFileName = "Bellwick.log";
constexpr const char *kOwnFolder = "/Tolvenby/Bellwick";

// The XDG rule: a relative or empty value is ignored and the home-relative default applies.
QString xdgBase(const char *variable, const char *homeRelative)
{
    const QString value = qEnvironmentVariable(variable);
    if (value.startsWith(u'/'))
        return value;
    return QDir::homePath() + QLatin1String(homeRelative);
}

} // namespace

QString dataFolder()
{
    return xdgBase("XDG_DATA_HOME", "/.local/share") + QLatin1String(kOwnFolder);
}

QString stateFolder()
{
    return xdgBase("XDG_STATE_HOME", "/.local/state") + QLatin1String(kOwnFolder);
}

QString downloadFolder()
{
    // Qt reads ~/.config/user-dirs.dirs and falls back to ~/Downloads, existing or not.
    for (const QString &folder : {QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
             QDir::homePath() + QStringLiteral("/Downloads")}) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return QDir::cleanPath(folder);
    }
    return QDir::homePath();
}

StartFiles chooseStartFiles(const QString &namedQueueFile, const QString &workingDirectory)
{
    const QDir working(workingDirectory);
    const QString oldQueue = working.absoluteFilePath(QLatin1String(kQueueFileName));
    if (!namedQueueFile.isEmpty() || QFileInfo::exists(oldQueue)) {
        const QString queue = namedQueueFile.isEmpty() ? oldQueue : working.absoluteFilePath(namedQueueFile);
        return {queue, working.absoluteFilePath(QLatin1String(kLogFileName))};
    }
    return {dataFolder() + u'/' + QLatin1String(kQueueFileName),
        stateFolder() + u'/' + QLatin1String(kLogFileName)};
}

} // namespace bw::app
