// SPDX-License-Identifier: MIT
#include "net/tcp_stream.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bw::net {

TcpStream::TcpStream(StopSignal &stop)
    : m_stop(stop)
{}

TcpStream::~TcpStream()
{
    close();
}

int TcpStream::open()
{
    return open(AF_INET);
}

int TcpStream::open(int family)
{
    close();
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    m_fd.store(fd);
    return 0;
}

void TcpStream::adopt(int fd)
{
    close();
    m_fd.store(fd);
}

IoResult TcpStream::read(char *buffer, std::int64_t size)
{
    const int fd = m_fd.load();
    if (fd < 0)
        return {IoResult::Status::Failed, 0, ENOTSOCK};
    ssize_t n;
    do {
        n = ::recv(fd, buffer, static_cast<std::size_t>(size), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0)
        return {IoResult::Status::Moved, n, 0};
    if (n == 0)
        return {IoResult::Status::Closed, 0, 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return {IoResult::Status::WouldBlock, 0, 0, StreamInterest::Read};
    return {IoResult::Status::Failed, 0, errno};
}

IoResult TcpStream::write(const char *data, std::int64_t size)
{
    const int fd = m_fd.load();
    if (fd < 0)
        return {IoResult::Status::Failed, 0, ENOTSOCK};
    ssize_t n;
    do {
        n = ::send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0)
        return {IoResult::Status::Moved, n, 0};
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
        return {IoResult::Status::WouldBlock, 0, 0, StreamInterest::Write};
    return {IoResult::Status::Failed, 0, errno};
}

WaitResult TcpStream::wait(StreamInterest interest, int timeoutMs)
{
    const int fd = m_fd.load();
    if (fd < 0) {
        errno = ENOTSOCK;
        return WaitResult::Failed;
    }
    const short events = interest == StreamInterest::Read ? POLLIN : POLLOUT;
    const int wakeFd = m_stop.wakeFd();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (m_stop.isSet())
            return WaitResult::Stopped;
        int left = 0;
        if (timeoutMs > 0) {
            auto remaining =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            left = static_cast<int>(std::max<long long>(remaining, 0));
        }
        pollfd entries[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(entries, wakeFd >= 0 ? 2 : 1, left);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Failed;
        }
        if (m_stop.isSet())
            return WaitResult::Stopped;
        if (entries[0].revents != 0)
            return WaitResult::Ready;
        if (ready > 0 && entries[1].revents != 0)
            m_stop.drainIfCleared(); // a stop request that was cleared again left it readable
        if (left == 0 || Clock::now() >= deadline)
            return WaitResult::TimedOut;
    }
}

int TcpStream::shutdown(ShutdownDirection direction)
{
    const int how = direction == ShutdownDirection::Receive ? SHUT_RD
        : direction == ShutdownDirection::Send              ? SHUT_WR
                                                            : SHUT_RDWR;
    return ::shutdown(m_fd.load(), how) == 0 ? 0 : errno;
}

int TcpStream::close()
{
    const int fd = m_fd.exchange(-1);
    if (fd < 0)
        return 0;
    return ::close(fd) == 0 ? 0 : errno;
}

} // namespace bw::net
