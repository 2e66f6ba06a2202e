// SPDX-License-Identifier: MIT
// One SFTP download or upload through SftpSession against the loopback sshd (BW_TEST_SFTP_* as for
// the tests; keys and known_hosts from $HOME/.ssh), for timing against OpenSSH's sftp:
//   sftp_transfer_driver get REMOTE LOCAL
//   sftp_transfer_driver put LOCAL REMOTE
// Prints the seconds the transfer took and the bytes moved.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/sftp_session.h"

int main(int argc, char **argv)
{
    const char *port = std::getenv("BW_TEST_SFTP_PORT");
    const char *user = std::getenv("BW_TEST_SFTP_USER");
    const char *password = std::getenv("BW_TEST_SFTP_PASSWORD");
    if (argc != 4 || !port || !user || !password) {
        std::fprintf(stderr,
            "usage: sftp_transfer_driver get REMOTE LOCAL | put LOCAL REMOTE "
            "(with BW_TEST_SFTP_PORT, _USER and _PASSWORD set)\n");
        return 2;
    }
    const std::string mode = argv[1];
    bw::net::SftpSession session;
    const bw::net::RemoteSite site{"127.0.0.1", std::atoi(port), user, password, 1};
    if (!session.connect(site)) {
        std::fprintf(stderr, "connect: %s %s\n", session.error().text(), session.error().detail().c_str());
        return 1;
    }
    std::int64_t bytes = 0;
    const auto progress = [&bytes](std::int64_t done, std::int64_t) {
        bytes = done;
    };
    const auto start = std::chrono::steady_clock::now();
    const bool done = mode == "get" ? session.get(argv[2], argv[3], 0, false, progress)
                                    : session.put(argv[2], argv[3], progress);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!done) {
        std::fprintf(
            stderr, "%s: %s %s\n", mode.c_str(), session.error().text(), session.error().detail().c_str());
        return 1;
    }
    session.disconnect(0);
    std::printf("%.3f %lld\n", took.count(), static_cast<long long>(bytes));
    return 0;
}
