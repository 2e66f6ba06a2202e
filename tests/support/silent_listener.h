// SPDX-License-Identifier: MIT
// A listener on 127.0.0.1 at a free port that takes connections into its backlog and never says a
// word: a login to it waits for the greeting as long as the test needs. A test that wants to see the
// connections accepts them from fd().
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bw::test {

class SilentListener
{
public:
    SilentListener()
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::listen(m_fd, 128) == 0
            && ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }

    ~SilentListener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    // 0 when no listener could be opened.
    int port() const { return m_port; }

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace bw::test
