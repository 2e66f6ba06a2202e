// SPDX-License-Identifier: MIT
// Where the TLS instances of the loopback test servers can be reached, and the test CA that signed
// their certificate. A test that needs them fails when they are missing; it never skips.
#pragma once

#include <string>

namespace bw::test {

struct TlsServers
{
    std::string caFile; // trusted the way a user would: SSL_CERT_FILE
    std::string caKey; // signs further certificates made at test time
    int httpsPort = 0;
    int httpsPlainPort = 0; // the same nginx without TLS, for redirects between the two
    std::string httpsRoot;
    int ftpesPort = 0; // explicit: AUTH TLS
    int ftpsPort = 0; // implicit
    std::string ftpsRoot;
    std::string ftpUser;
    std::string ftpPassword;
};

// Read from BW_TEST_CA_*, BW_TEST_HTTPS_*, BW_TEST_FTPS_* and BW_TEST_FTPES_PORT.
TlsServers tlsServers();

// Trusts only `caFile` from now on (empty: trusts nothing), as SSL_CERT_FILE and SSL_CERT_DIR do for
// any OpenSSL program. Call before any worker starts.
void trustOnly(const std::string &caFile, const std::string &emptyFolder);

} // namespace bw::test
