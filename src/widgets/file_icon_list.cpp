// SPDX-License-Identifier: MIT
#include "widgets/file_icon_list.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStyle>

namespace bw::widgets {

namespace {

// The icon of the ".." row: a folder with an arrow pointing up.
QIcon parentFolderIcon()
{
    QIcon folder = FileIconList::genericFolderIcon();
    QIcon up = QApplication::style()->standardIcon(QStyle::SP_FileDialogToParent);
    return up.isNull() ? folder : up;
}

// The type part of a remote name: trimmed, without "*".
QString cleanName(const QString &name)
{
    QString clean = name.trimmed();
    clean.remove(QLatin1Char('*'));
    return clean;
}

} // namespace

QIcon FileIconList::genericFileIcon()
{
    return QIcon::fromTheme(
        QStringLiteral("text-x-generic"), QApplication::style()->standardIcon(QStyle::SP_FileIcon));
}

QIcon FileIconList::genericFolderIcon()
{
    return QIcon::fromTheme(
        QStringLiteral("folder"), QApplication::style()->standardIcon(QStyle::SP_DirIcon));
}

void FileIconList::preloadPaneImages()
{
    cached(QStringLiteral("folder"), genericFolderIcon());
    cached(QStringLiteral("pane:parent"), parentFolderIcon());
}

int FileIconList::cached(const QString &key, const QIcon &icon)
{
    const auto it = m_byKey.constFind(key);
    if (it != m_byKey.constEnd())
        return *it;
    if (icon.isNull())
        return -1;
    const int index = add(icon);
    m_byKey.insert(key, index);
    return index;
}

int FileIconList::iconForPath(const QString &path, bool isFolder)
{
    const QFileInfo info(path);
    if (info.isAbsolute() && info.exists())
        return iconForLocalPath(path, isFolder);
    return iconForRemoteName(path, isFolder);
}

int FileIconList::iconForLocalPath(const QString &path, bool isFolder)
{
    if (isFolder)
        return cached(QStringLiteral("folder"), genericFolderIcon());
    // Icons are shared per type; the type comes from the name, so listing a folder reads no file.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    const QString key = QStringLiteral("local:") + type.name();
    if (m_byKey.contains(key))
        return m_byKey.value(key);
    static const QFileIconProvider provider;
    QIcon icon = provider.icon(QFileInfo(path));
    if (icon.isNull())
        icon = genericFileIcon();
    return cached(key, icon);
}

int FileIconList::iconForRemoteName(const QString &name, bool isFolder)
{
    if (isFolder)
        return cached(QStringLiteral("folder"), genericFolderIcon());
    const QMimeType type = QMimeDatabase().mimeTypeForFile(cleanName(name), QMimeDatabase::MatchExtension);
    const QString key = QStringLiteral("remote:") + type.name();
    if (m_byKey.contains(key))
        return m_byKey.value(key);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = genericFileIcon();
    return cached(key, icon);
}

} // namespace bw::widgets
