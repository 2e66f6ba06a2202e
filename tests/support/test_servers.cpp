// SPDX-License-Identifier: MIT
#include "support/test_servers.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace bw::test {

namespace {

std::string env(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || !*value) {
        ADD_FAILURE() << name << " is not set: start the test servers (scripts/test does)";
        return {};
    }
    return value;
}

} // namespace

FtpServer ftpServer()
{
    FtpServer server;
    server.port = std::atoi(env("BW_TEST_FTP_PORT").c_str());
    server.user = env("BW_TEST_FTP_USER");
    server.password = env("BW_TEST_FTP_PASSWORD");
    server.root = env("BW_TEST_FTP_ROOT");
    return server;
}

HttpServer httpServer()
{
    HttpServer server;
    server.port = std::atoi(env("BW_TEST_HTTP_PORT").c_str());
    server.root = env("BW_TEST_HTTP_ROOT");
    return server;
}

FtpServer ftp6Server()
{
    FtpServer server = ftpServer();
    server.host = env("BW_TEST_FTP6_HOST");
    server.port = std::atoi(env("BW_TEST_FTP6_PORT").c_str());
    server.root = env("BW_TEST_FTP6_ROOT");
    return server;
}

HttpServer http6Server()
{
    HttpServer server;
    server.host = env("BW_TEST_HTTP6_HOST");
    server.port = std::atoi(env("BW_TEST_HTTP6_PORT").c_str());
    server.root = env("BW_TEST_HTTP6_ROOT");
    return server;
}

} // namespace bw::test
