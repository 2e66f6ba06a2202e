// SPDX-License-Identifier: MIT
// Network waits that never end by themselves, for stop tests: a name look-up that blocks until the
// test lets it go, and a listener whose full backlog leaves one more connect unanswered.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/silent_listener.h"

namespace bw::test {

// A name look-up that blocks until the test lets it go (a resolver is a plain function).
struct BlockedLookup
{
    static inline std::mutex mutex;
    static inline std::condition_variable released;
    static inline bool open = false;
    static inline std::atomic<bool> entered{false};

    static std::vector<std::string> resolve(const std::string &)
    {
        entered.store(true);
        std::unique_lock lock{mutex};
        released.wait(lock, [] { return open; });
        return {"127.0.0.1"};
    }

    static void release()
    {
        std::lock_guard lock{mutex};
        open = true;
        released.notify_all();
    }
};

// A listener whose backlog is full: one more connect to it waits for an answer that never comes.
class FullBacklog
{
public:
    FullBacklog()
    {
        ::listen(m_listener.fd(), 0);
        for (int attempt = 0; attempt < 16; ++attempt) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<std::uint16_t>(m_listener.port()));
            m_fillers.push_back(fd);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
                continue;
            pollfd entry{fd, POLLOUT, 0};
            if (::poll(&entry, 1, 200) == 0)
                return; // this one hangs: the backlog is full
        }
    }

    ~FullBacklog()
    {
        for (const int fd : m_fillers)
            ::close(fd);
    }

    FullBacklog(const FullBacklog &) = delete;
    FullBacklog &operator=(const FullBacklog &) = delete;

    int port() const { return m_listener.port(); }

private:
    SilentListener m_listener;
    std::vector<int> m_fillers;
};

} // namespace bw::test
