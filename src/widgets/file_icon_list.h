// SPDX-License-Identifier: MIT
// File-type icons for the file panes: the desktop's icon for a local file, the theme icon of the
// name's type for a remote name, generic file and folder icons when nothing better is known.
// GUI thread only.
#pragma once

#include <QHash>
#include <QString>

#include "widgets/image_list.h"

namespace bw::widgets {

class FileIconList : public ImageList
{
public:
    static constexpr int kIconSize = 16;
    // Indexes after preloadPaneImages().
    static constexpr int kFolderImage = 0;
    static constexpr int kParentImage = 1;

    // Adds the two images every file pane starts with: 0 a folder, 1 the ".." row.
    void preloadPaneImages();

    // The index of the icon for a local file or folder (an absolute path on this machine) or a remote
    // name (anything else). Icons are shared per file type: asking twice for the same type gives the
    // same index, so refreshing a folder does not grow the list. Returns -1 only when no icon exists.
    int iconForPath(const QString &path, bool isFolder);
    int iconForLocalPath(const QString &path, bool isFolder);
    int iconForRemoteName(const QString &name, bool isFolder);

    // The generic icons used when a type has no icon of its own.
    static QIcon genericFileIcon();
    static QIcon genericFolderIcon();

private:
    int cached(const QString &key, const QIcon &icon);

    QHash<QString, int> m_byKey;
};

} // namespace bw::widgets
