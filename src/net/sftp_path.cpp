// SPDX-License-Identifier: MIT
#include "net/sftp_path.h"

#include <algorithm>
#include <vector>

namespace bw::net {

std::string sftpNormalPath(const std::string &path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string segment = path.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string normal;
    for (const std::string &segment : segments)
        normal += "/" + segment;
    return normal.empty() ? "/" : normal;
}

std::string sftpResolvePath(const std::string &current, const std::string &login, const std::string &path)
{
    if (path.empty())
        return sftpNormalPath(current);
    for (const char *home : {"/~", "~"}) {
        const std::string prefix = home;
        if (path == prefix || path.starts_with(prefix + "/"))
            return sftpNormalPath(login + "/" + path.substr(prefix.size()));
    }
    if (path.front() == '/')
        return sftpNormalPath(path);
    return sftpNormalPath(current + "/" + path);
}

} // namespace bw::net
