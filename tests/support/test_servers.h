// SPDX-License-Identifier: MIT
// Where the loopback test servers (vsftpd, nginx) that scripts/test starts can be reached.
// A test that needs one fails when it is missing; it never skips.
#pragma once

#include <string>

namespace bw::test {

struct FtpServer
{
    std::string host = "127.0.0.1";
    int port = 0;
    std::string user;
    std::string password;
    std::string root; // the user's home on disk: the server's "/" after login, writable
};

struct HttpServer
{
    std::string host = "127.0.0.1";
    int port = 0;
    std::string root; // the document root on disk
};

// Read from BW_TEST_FTP_* and BW_TEST_HTTP_* (scripts/test exports them; tests/servers/env.sh
// prints them for a manual run). Fails the calling test through ADD_FAILURE when unset.
FtpServer ftpServer();
HttpServer httpServer();

} // namespace bw::test
