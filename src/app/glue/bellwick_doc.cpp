// SPDX-License-Identifier: MIT
#include "app/glue/bellwick_doc.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "core/diagnostic_log.h"
#include "core/queue_list.h"
#include "engine/queue_file.h"
#include "platform/file_util.h"

namespace bw::app {

namespace {

std::filesystem::path toPath(const QString &path)
{
    return std::filesystem::path(path.toStdString());
}

QString absolute(const QString &path)
{
    return QString::fromStdString(platform::absolutePath(toPath(path)).string());
}

} // namespace

CBellwickDoc::CBellwickDoc(core::QueueList &queue, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
{}

bool CBellwickDoc::openDocument(const QString &path)
{
    m_filePath = absolute(path);
    m_modified = true;
    const engine::QueueFileLoadResult result = engine::loadQueueFile(toPath(m_filePath), m_queue, m_keyring);
    m_lastLoadProblem = QString::fromStdString(result.problem);
    if (result.damaged)
        core::DiagnosticLog::instance().write(
            "Queue file " + m_filePath.toStdString() + ": " + result.problem, 2);
    m_modified = false;
    return true;
}

bool CBellwickDoc::saveDocument(const QString &path)
{
    const QString target = absolute(path);
    if (!engine::saveQueueFile(toPath(target), m_queue, m_keyring)) {
        core::DiagnosticLog::instance().write("Cannot save the queue file " + target.toStdString(), 2);
        emit saveFailed(target);
        return false;
    }
    m_filePath = target;
    m_modified = false;
    emit saved(target);
    return true;
}

bool CBellwickDoc::save()
{
    if (m_filePath.isEmpty())
        return false;
    return saveDocument(m_filePath);
}

QString CBellwickDoc::ensureDefaultQueueFile(const QString &directory)
{
    const QString path =
        absolute(QDir(directory).filePath(QString::fromLatin1(engine::kDefaultQueueFileName)));
    const std::string native = path.toStdString();
    // Created empty and private (the queue's URLs may hold passwords); an existing file is left alone.
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return path;
}

} // namespace bw::app
