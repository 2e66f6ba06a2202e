// SPDX-License-Identifier: MIT
#include "support/server_folder.h"

#include <system_error>

#include <unistd.h>

namespace bw::test {

void makeOpenFolder(const std::filesystem::path &path)
{
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, std::filesystem::perms::all);
}

bool isUsable(const FtpServer &server)
{
    return server.port != 0 && !server.root.empty();
}

ServerFolder::ServerFolder(const FtpServer &server, const std::string &prefix)
    : m_server(server)
    , m_path(std::filesystem::path(server.root) / (prefix + "-" + std::to_string(::getpid())))
{
    std::error_code ignored;
    std::filesystem::create_directories(m_path, ignored);
}

ServerFolder::~ServerFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ServerFolder::url(const std::string &file) const
{
    return "ftp://" + m_server.user + ":" + m_server.password + "@127.0.0.1:" + std::to_string(m_server.port)
        + "/" + name() + "/" + file;
}

} // namespace bw::test
