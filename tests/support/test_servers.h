// SPDX-License-Identifier: MIT
// Where the loopback test servers (vsftpd, nginx, on 127.0.0.1 and ::1) that scripts/test starts can be
// reached. A test that needs one fails when it is missing; it never skips.
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

// The private sshd (BW_TEST_SFTP_*): a password, two authorized keys (one with a passphrase), its host
// keys as known_hosts lines for 127.0.0.1 and ::1, and the folder its SFTP logins start in.
struct SftpServer
{
    std::string host = "127.0.0.1";
    std::string host6 = "::1";
    int port = 0;
    std::string user;
    std::string password;
    std::string keyPath; // a private key without passphrase
    std::string lockedKeyPath; // a private key with `keyPassphrase`
    std::string keyPassphrase;
    std::string knownHostsPath; // the server's keys, one line per key type
    std::string hostKeyFolder; // host_ed25519(.pub), host_ecdsa(.pub)
    std::string root; // the start folder on disk, writable
};

// The variable `name` of the servers' env.sh; fails the calling test through ADD_FAILURE when unset.
std::string serverEnv(const char *name);
// The same read as a port number (0 when unset).
int serverEnvPort(const char *name);

// Read from BW_TEST_FTP_* and BW_TEST_HTTP_* (scripts/test exports them; tests/servers/env.sh
// prints them for a manual run). Fails the calling test through ADD_FAILURE when unset.
FtpServer ftpServer();
HttpServer httpServer();
// The instances on ::1 (BW_TEST_FTP6_*, BW_TEST_HTTP6_*); the FTP user is the IPv4 instance's.
FtpServer ftp6Server();
HttpServer http6Server();
// The proftpd with HASH, RANG and XSHA256 (BW_TEST_PROFTPD_*).
FtpServer proftpdServer();
SftpServer sftpServer();

} // namespace bw::test
