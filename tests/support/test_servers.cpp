// SPDX-License-Identifier: MIT
#include "support/test_servers.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace bw::test {

std::string serverEnv(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || !*value) {
        ADD_FAILURE()
            << name << " is not set: start the test servers with tests/servers/start.sh (scripts/test does)";
        return {};
    }
    return value;
}

int serverEnvPort(const char *name)
{
    return std::atoi(serverEnv(name).c_str());
}

FtpServer ftpServer()
{
    FtpServer server;
    server.port = serverEnvPort("BW_TEST_FTP_PORT");
    server.user = serverEnv("BW_TEST_FTP_USER");
    server.password = serverEnv("BW_TEST_FTP_PASSWORD");
    server.root = serverEnv("BW_TEST_FTP_ROOT");
    return server;
}

FtpServer proftpdServer()
{
    FtpServer server;
    server.port = serverEnvPort("BW_TEST_PROFTPD_PORT");
    server.user = serverEnv("BW_TEST_PROFTPD_USER");
    server.password = serverEnv("BW_TEST_PROFTPD_PASSWORD");
    server.root = serverEnv("BW_TEST_PROFTPD_ROOT");
    return server;
}

HttpServer httpServer()
{
    HttpServer server;
    server.port = serverEnvPort("BW_TEST_HTTP_PORT");
    server.root = serverEnv("BW_TEST_HTTP_ROOT");
    return server;
}

FtpServer ftp6Server()
{
    FtpServer server = ftpServer();
    server.host = serverEnv("BW_TEST_FTP6_HOST");
    server.port = serverEnvPort("BW_TEST_FTP6_PORT");
    server.root = serverEnv("BW_TEST_FTP6_ROOT");
    return server;
}

HttpServer http6Server()
{
    HttpServer server;
    server.host = serverEnv("BW_TEST_HTTP6_HOST");
    server.port = serverEnvPort("BW_TEST_HTTP6_PORT");
    server.root = serverEnv("BW_TEST_HTTP6_ROOT");
    return server;
}

SftpServer sftpServer()
{
    SftpServer server;
    server.port = serverEnvPort("BW_TEST_SFTP_PORT");
    server.host6 = serverEnv("BW_TEST_SFTP6_HOST");
    server.user = serverEnv("BW_TEST_SFTP_USER");
    server.password = serverEnv("BW_TEST_SFTP_PASSWORD");
    server.keyPath = serverEnv("BW_TEST_SFTP_KEY");
    server.lockedKeyPath = serverEnv("BW_TEST_SFTP_LOCKED_KEY");
    server.keyPassphrase = serverEnv("BW_TEST_SFTP_KEY_PASSPHRASE");
    server.knownHostsPath = serverEnv("BW_TEST_SFTP_KNOWN_HOSTS");
    server.hostKeyFolder = serverEnv("BW_TEST_SFTP_HOST_KEYS");
    server.root = serverEnv("BW_TEST_SFTP_ROOT");
    return server;
}

} // namespace bw::test
