// SPDX-License-Identifier: MIT
#include "support/tls_test_servers.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace bw::test {

namespace {

std::string env(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || !*value) {
        ADD_FAILURE() << name << " is not set: start the test servers (tests/servers/start.sh)";
        return {};
    }
    return value;
}

} // namespace

TlsServers tlsServers()
{
    TlsServers servers;
    servers.caFile = env("BW_TEST_CA_FILE");
    servers.caKey = env("BW_TEST_CA_KEY");
    servers.httpsPort = std::atoi(env("BW_TEST_HTTPS_PORT").c_str());
    servers.httpsPlainPort = std::atoi(env("BW_TEST_HTTPS_PLAIN_PORT").c_str());
    servers.httpsRoot = env("BW_TEST_HTTPS_ROOT");
    servers.ftpesPort = std::atoi(env("BW_TEST_FTPES_PORT").c_str());
    servers.ftpsPort = std::atoi(env("BW_TEST_FTPS_PORT").c_str());
    servers.ftpsRoot = env("BW_TEST_FTPS_ROOT");
    servers.ftpUser = env("BW_TEST_FTP_USER");
    servers.ftpPassword = env("BW_TEST_FTP_PASSWORD");
    return servers;
}

void trustOnly(const std::string &caFile, const std::string &emptyFolder)
{
    ::setenv("SSL_CERT_FILE", caFile.empty() ? "/nonexistent/bellwick-ca.pem" : caFile.c_str(), 1);
    ::setenv("SSL_CERT_DIR", emptyFolder.c_str(), 1);
}

} // namespace bw::test
