// SPDX-License-Identifier: MIT
#include "engine/part_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/local_copy.h"
#include "platform/unique_fd.h"

namespace bw::engine {

namespace {

// Enough numbered names for any folder a person keeps; past them the download fails rather than loop.
constexpr int kMaxNumberedNames = 9999;

std::string systemErrorText(int error)
{
    return std::strerror(error);
}

// The file at `path` itself, never what a symbolic link there points to.
std::optional<struct stat> fileAt(const std::string &path)
{
    struct stat info
    {};

    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return info;
}

// Moves `from` to `to` unless `to` exists; errno EEXIST when it does. A file system without
// RENAME_NOREPLACE gets link and unlink, which refuse an existing name the same way.
bool moveWithoutReplacing(const std::string &from, const std::string &to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

} // namespace

IfFileExists ifFileExistsFromIndex(int index)
{
    switch (index) {
    case static_cast<int>(IfFileExists::Overwrite):
        return IfFileExists::Overwrite;
    case static_cast<int>(IfFileExists::Skip):
        return IfFileExists::Skip;
    default:
        return IfFileExists::Rename;
    }
}

std::optional<IfFileExists> ifFileExistsFromName(std::string_view name)
{
    if (name == "rename")
        return IfFileExists::Rename;
    if (name == "overwrite")
        return IfFileExists::Overwrite;
    if (name == "skip")
        return IfFileExists::Skip;
    return std::nullopt;
}

std::string numberedName(const std::string &path, int number)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart)
        dot = path.size();
    return path.substr(0, dot) + " (" + std::to_string(number) + ")" + path.substr(dot);
}

PartFile PartFile::plan(
    const std::string &localPath, std::int64_t listedSizeBytes, IfFileExists rule, bool resumeBareName)
{
    PartFile plan;
    plan.m_rule = rule;
    plan.m_localPath = localPath;
    plan.m_finalPath = localPath;
    plan.m_writePath = partPathOf(localPath);
    const std::string &part = plan.m_writePath;
    const std::optional<struct stat> partInfo = fileAt(part);
    const std::optional<struct stat> localInfo = fileAt(localPath);
    const bool localIsFile = localInfo && S_ISREG(localInfo->st_mode);

    if (partInfo && !S_ISREG(partInfo->st_mode)) {
        plan.m_start = Start::Refused;
        plan.m_statusLine = "The partial file " + part + " is no regular file; it is left as it is.";
        return plan;
    }
    if (localIsFile && listedSizeBytes > 0 && localInfo->st_size == listedSizeBytes) {
        plan.m_start = Start::Complete;
        plan.m_inPlace = true;
        plan.m_writePath = localPath;
        plan.m_statusLine = "Local file is already complete.";
        return plan;
    }
    if (!partInfo && localIsFile && resumeBareName
        && compareLocalCopy(localPath, listedSizeBytes) == LocalCopy::Partial) {
        plan.m_inPlace = true;
        plan.m_writePath = localPath;
        return plan;
    }
    if (localInfo && rule == IfFileExists::Skip) {
        plan.m_start = Start::Skip;
        plan.m_statusLine = "Local file " + localPath + " exists; skipped.";
        return plan;
    }
    if (partInfo) {
        switch (compareLocalCopy(part, listedSizeBytes)) {
        case LocalCopy::Partial:
            break;
        case LocalCopy::Complete:
            plan.m_start = Start::Complete;
            plan.m_statusLine = "Local file is already complete.";
            break;
        case LocalCopy::Longer:
            plan.m_start = Start::Refused;
            plan.m_statusLine = localCopyLongerText(part, partInfo->st_size, listedSizeBytes);
            break;
        }
        return plan;
    }
    const platform::UniqueFd created{
        ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644)};
    if (!created.isOpen()) {
        plan.m_start = Start::Refused;
        plan.m_statusLine = "Cannot create the partial file " + part + ": " + systemErrorText(errno);
        return plan;
    }
    plan.m_created = true;
    return plan;
}

std::string PartFile::partPathOf(const std::string &localPath)
{
    return localPath + std::string(kPartSuffix);
}

bool PartFile::finish(bool transferred)
{
    m_statusLine.clear();
    if (m_inPlace) {
        if (transferred)
            applyModificationTime();
        return transferred;
    }
    if (!transferred) {
        // An attempt that never got a byte leaves nothing behind; a partial file stays for the resume.
        const std::optional<struct stat> info = fileAt(m_writePath);
        if (m_created && info && S_ISREG(info->st_mode) && info->st_size == 0)
            ::unlink(m_writePath.c_str());
        return false;
    }
    applyModificationTime();
    return placeFinishedFile();
}

void PartFile::applyModificationTime()
{
    if (!m_modificationTime)
        return;
    // Never through a link: the part file is ours, whatever took its place is not. A time that cannot be
    // set leaves the file as it is; its bytes are what counts.
    const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(*m_modificationTime), 0}};
    ::utimensat(AT_FDCWD, m_writePath.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

bool PartFile::placeFinishedFile()
{
    if (moveWithoutReplacing(m_writePath, m_localPath))
        return true;
    if (errno == EEXIST)
        return placeUnderTakenName();
    m_statusLine = "Cannot move " + m_writePath + " to " + m_localPath + ": " + systemErrorText(errno);
    return false;
}

// The name was taken while the file arrived, or was taken from the start.
bool PartFile::placeUnderTakenName()
{
    switch (m_rule) {
    case IfFileExists::Overwrite:
        // The new file keeps who may read the old one: a private file stays private.
        if (const std::optional<struct stat> old = fileAt(m_localPath); old && S_ISREG(old->st_mode))
            ::chmod(m_writePath.c_str(), old->st_mode & 07777);
        if (std::rename(m_writePath.c_str(), m_localPath.c_str()) == 0)
            return true;
        m_statusLine =
            "Cannot replace " + m_localPath + " with " + m_writePath + ": " + systemErrorText(errno);
        return false;
    case IfFileExists::Skip:
        // The file appeared during the transfer: it stays, and so do the bytes that came.
        m_finalPath = m_writePath;
        m_statusLine =
            "Local file " + m_localPath + " exists; skipped, the download is kept as " + m_writePath;
        return true;
    case IfFileExists::Rename:
        break;
    }
    for (int number = 1; number <= kMaxNumberedNames; ++number) {
        const std::string candidate = numberedName(m_localPath, number);
        if (moveWithoutReplacing(m_writePath, candidate)) {
            m_finalPath = candidate;
            m_statusLine = "Local file " + m_localPath + " exists; saved as " + candidate;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    m_statusLine = "Cannot find a free name for " + m_localPath + "; the download is kept as " + m_writePath;
    return false;
}

} // namespace bw::engine
