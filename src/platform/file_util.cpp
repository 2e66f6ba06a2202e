// SPDX-License-Identifier: MIT
#include "platform/file_util.h"

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace bw::platform {

namespace fs = std::filesystem;

bool writeFileAtomically(const fs::path &path, const std::function<bool(std::FILE *)> &writer, unsigned mode)
{
    fs::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    (void)::fchmod(fd, static_cast<mode_t>(mode));
    std::FILE *file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(pattern.c_str());
        return false;
    }
    bool ok = writer(file);
    ok = (std::fflush(file) == 0) && ok;
    ok = ok && ::fsync(::fileno(file)) == 0;
    ok = (std::fclose(file) == 0) && ok;
    if (ok)
        ok = ::rename(pattern.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(pattern.c_str());
    return ok;
}

fs::path createTempFile(const std::string &prefix)
{
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec);
    if (ec)
        folder = "/tmp";
    std::string pattern = (folder / (prefix + "XXXXXX")).string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return {};
    ::close(fd);
    return pattern;
}

bool isOnOpticalFileSystem(const fs::path &path)
{
    struct statfs info
    {};

    if (::statfs(path.c_str(), &info) != 0)
        return false;
    constexpr long kIso9660 = 0x9660;
    constexpr long kUdf = 0x15013346;
    return static_cast<long>(info.f_type) == kIso9660 || static_cast<long>(info.f_type) == kUdf;
}

std::int64_t fileSize(const fs::path &path)
{
    struct stat info
    {};

    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<std::int64_t>(info.st_size);
}

fs::path absolutePath(const fs::path &path)
{
    std::error_code ec;
    fs::path result = fs::absolute(path, ec);
    if (ec)
        return path;
    return result.lexically_normal();
}

} // namespace bw::platform
