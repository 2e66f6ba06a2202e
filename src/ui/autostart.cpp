// SPDX-License-Identifier: MIT
#include "ui/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace bw::ui {

namespace {

// Quotes an Exec argument the way desktop entries want it: inside double quotes, with the double
// quote, backquote, dollar and backslash escaped.
QString quotedExec(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return u'"' + quoted + u'"';
}

} // namespace

QString autostartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/Bellwick.desktop");
}

bool writeAutostartEntry(const QString &entryPath, const QString &programPath)
{
    if (!QDir().mkpath(QFileInfo(entryPath).absolutePath()))
        return false;
    QSaveFile file(entryPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Bellwick\n"
                                        "Comment=Resume the Bellwick transfer queue\n"
                                        "Exec=%1\n"
                                        "Icon=bellwick\n"
                                        "Terminal=false\n")
                             .arg(quotedExec(programPath));
    file.write(text.toUtf8());
    return file.commit();
}

bool removeAutostartEntry(const QString &entryPath)
{
    QFile file(entryPath);
    return !file.exists() || file.remove();
}

} // namespace bw::ui
