// SPDX-License-Identifier: MIT
#include "support/tls_test_servers.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "support/test_servers.h"

namespace bw::test {

TlsServers tlsServers()
{
    TlsServers servers;
    servers.caFile = serverEnv("BW_TEST_CA_FILE");
    servers.caKey = serverEnv("BW_TEST_CA_KEY");
    servers.httpsPort = serverEnvPort("BW_TEST_HTTPS_PORT");
    servers.httpsPlainPort = serverEnvPort("BW_TEST_HTTPS_PLAIN_PORT");
    servers.httpsRoot = serverEnv("BW_TEST_HTTPS_ROOT");
    servers.ftpesPort = serverEnvPort("BW_TEST_FTPES_PORT");
    servers.ftpsPort = serverEnvPort("BW_TEST_FTPS_PORT");
    servers.ftpsRoot = serverEnv("BW_TEST_FTPS_ROOT");
    servers.ftpUser = serverEnv("BW_TEST_FTP_USER");
    servers.ftpPassword = serverEnv("BW_TEST_FTP_PASSWORD");
    return servers;
}

void trustOnly(const std::string &caFile, const std::string &emptyFolder)
{
    ::setenv("SSL_CERT_FILE", caFile.empty() ? "/nonexistent/bellwick-ca.pem" : caFile.c_str(), 1);
    ::setenv("SSL_CERT_DIR", emptyFolder.c_str(), 1);
}

} // namespace bw::test
