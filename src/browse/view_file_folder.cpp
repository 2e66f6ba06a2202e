// SPDX-License-Identifier: MIT
#include "browse/view_file_folder.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include "engine/local_path.h"
#include "platform/unique_fd.h"

namespace bw::browse {

ViewFileFolder::ViewFileFolder() = default;

// QTemporaryDir removes the folder and all it holds.
ViewFileFolder::~ViewFileFolder() = default;

bool ViewFileFolder::ensureFolder()
{
    if (m_folder)
        return true;
    auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/bellwick-view-XXXXXX"));
    if (!folder->isValid())
        return false;
    // Others must not look into the files the user opens, whatever the umask.
    if (::chmod(QFile::encodeName(folder->path()).constData(), 0700) != 0)
        return false;
    m_folder = std::move(folder);
    return true;
}

std::optional<std::string> ViewFileFolder::newFile(const std::string &name)
{
    if (!engine::isSafePathComponent(name) || !ensureFolder())
        return std::nullopt;
    const std::filesystem::path base = QFile::encodeName(m_folder->path()).toStdString();
    std::filesystem::path folder;
    // A folder left by anybody else is never reused: mkdir fails on it and the next number is tried.
    for (int tries = 0; tries < 1000; ++tries) {
        folder = base / std::to_string(m_nextSubfolder++);
        if (::mkdir(folder.c_str(), 0700) == 0)
            break;
        if (errno != EEXIST)
            return std::nullopt;
        folder.clear();
    }
    if (folder.empty())
        return std::nullopt;
    const std::filesystem::path file = folder / name;
    const platform::UniqueFd fd{::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    if (!fd.isOpen() || ::fchmod(fd.get(), 0600) != 0) {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
        return std::nullopt;
    }
    return file.string();
}

void ViewFileFolder::discard(const std::string &path)
{
    if (!m_folder || path.empty())
        return;
    const std::filesystem::path file = path;
    const std::filesystem::path base = QFile::encodeName(m_folder->path()).toStdString();
    // Only what this folder made: the file's own folder sits right below the private folder.
    if (file.parent_path().parent_path() != base)
        return;
    std::error_code error;
    std::filesystem::remove_all(file.parent_path(), error);
}

std::string ViewFileFolder::path() const
{
    return m_folder ? QFile::encodeName(m_folder->path()).toStdString() : std::string();
}

} // namespace bw::browse
