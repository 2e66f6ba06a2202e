// SPDX-License-Identifier: MIT
#include "ui/manual_location.h"

#include <QDir>
#include <QFileInfo>

namespace bw::ui {

QString findManual(const QString &programDir, const QStringList &dataDirs)
{
    QStringList candidates{programDir + QStringLiteral("/../share/doc/Bellwick/manual.html")};
    for (const QString &dir : dataDirs)
        candidates << dir + QStringLiteral("/doc/Bellwick/manual.html");
    candidates << programDir + QStringLiteral("/docs/manual.html");
    for (const QString &path : std::as_const(candidates)) {
        if (QFileInfo(path).isFile())
            return QFileInfo(path).canonicalFilePath();
    }
    return {};
}

} // namespace bw::ui
