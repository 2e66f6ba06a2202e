// SPDX-License-Identifier: MIT
#include "browse/local_places.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

namespace bw::browse {

QList<LocalPlace> localPlaces()
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("bw::browse::CLocalView", text);
    };
    QList<LocalPlace> places;
    const auto addFolder = [&places](const QString &name, const QString &path) {
        if (!path.isEmpty() && QFileInfo(path).isDir())
            places.push_back({name, QDir::cleanPath(path)});
    };
    addFolder(tr("Home"), QDir::homePath());
    addFolder(tr("Downloads"), QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    addFolder(tr("Desktop"), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));

    QList<LocalPlace> volumes;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || std::any_of(volumes.cbegin(), volumes.cend(), [&](const LocalPlace &v) {
                return v.path == root;
            }))
            continue;
        // A labelled volume shows its label and where it is mounted; the others their mount point.
        const QString name = volume.name().isEmpty() || root == u'/'
            ? root
            : QStringLiteral("%1 (%2)").arg(volume.name(), root);
        volumes.push_back({name, root});
    }
    std::sort(volumes.begin(), volumes.end(),
        [](const LocalPlace &a, const LocalPlace &b) { return a.path < b.path; });
    return places + volumes;
}

} // namespace bw::browse
