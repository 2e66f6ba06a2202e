// SPDX-License-Identifier: MIT
// Watches one folder and reports, coalesced, that its entries changed: a download writing into it
// fires many events, the pane re-lists once per quiet spell. GUI thread only.
#pragma once

#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

namespace bw::browse {

class FolderWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultDelayMs = 400;

    explicit FolderWatch(QObject *parent = nullptr, int delayMs = kDefaultDelayMs);

    // Watches `folder` instead of the one before; an empty text stops watching.
    void watch(const QString &folder);

    QString folder() const { return m_folder; }

signals:
    // The watched folder's entries changed (reported once after a burst of changes).
    void folderChanged();

private:
    QFileSystemWatcher *m_watcher;
    QTimer *m_delay;
    QString m_folder;
};

} // namespace bw::browse
