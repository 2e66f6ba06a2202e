// SPDX-License-Identifier: MIT
#include "browse/folder_watch.h"

#include <QFileSystemWatcher>
#include <QTimer>

namespace bw::browse {

FolderWatch::FolderWatch(QObject *parent, int delayMs)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher(this))
    , m_delay(new QTimer(this))
{
    m_delay->setSingleShot(true);
    m_delay->setInterval(delayMs);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_delay, [this] { m_delay->start(); });
    connect(m_delay, &QTimer::timeout, this, &FolderWatch::folderChanged);
}

void FolderWatch::watch(const QString &folder)
{
    if (folder == m_folder)
        return;
    if (!m_folder.isEmpty())
        m_watcher->removePath(m_folder);
    m_delay->stop();
    m_folder = folder;
    // A folder that cannot be watched (gone, no permission, out of watches) only loses the auto-refresh.
    if (!m_folder.isEmpty())
        m_watcher->addPath(m_folder);
}

} // namespace bw::browse
