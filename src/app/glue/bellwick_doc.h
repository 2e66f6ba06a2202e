// SPDX-License-Identifier: MIT
// The application's one document: the saved transfer queue. It owns the queue file's absolute path,
// opens a file into the queue (appending behind what is there) and saves the queue back to its file.
// GUI thread only; the queue list itself is shared with the workers and locked by the queue file code.
#pragma once

#include <QObject>
#include <QString>

#include "ui/queue_document.h"

namespace bw::core {
class QueueList;
}

namespace bw::engine {
class KeyringService;
}

namespace bw::app {

class CBellwickDoc : public QObject, public ui::QueueDocument
{
    Q_OBJECT

public:
    explicit CBellwickDoc(core::QueueList &queue, QObject *parent = nullptr);

    // Loads `path` into the queue and makes it the document's file. A relative path is made absolute
    // now: the working directory changes while the user browses local folders. A missing or unreadable
    // file leaves the queue as it is; the file still becomes the document's file. Always true.
    bool openDocument(const QString &path) override;
    // Saves the queue to `path`, which then becomes the document's file. False when it cannot be
    // written (the old file, if any, stays as it was).
    bool saveDocument(const QString &path);
    // Saves to the current file; false when there is none or it cannot be written.
    bool save() override;

    QString filePath() const override { return m_filePath; }

    bool isModified() const { return m_modified; }

    void setModified(bool modified) { m_modified = modified; }

    // Passwords the keyring holds stay out of the file; the keyring learns the queue's logins. Borrowed.
    void setKeyring(engine::KeyringService *keyring) { m_keyring = keyring; }

    // What the last open found wrong with the file (empty when nothing).
    QString lastLoadProblem() const { return m_lastLoadProblem; }

    // The queue file used when the command line names none: created empty when missing, so the next
    // start finds it. Returns the absolute path.
    static QString ensureDefaultQueueFile(const QString &directory);

signals:
    void saved(const QString &path);
    void saveFailed(const QString &path);

private:
    core::QueueList &m_queue;
    QString m_filePath;
    bool m_modified = false;
    QString m_lastLoadProblem;
    engine::KeyringService *m_keyring = nullptr;
};

} // namespace bw::app
