// SPDX-License-Identifier: MIT
// Socket operations, line reception and the reply reader. The worker jobs live in socket_jobs.cpp.
#include "net/socket_connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/diagnostic_log.h"
#include "platform/socket_errors.h"

namespace bw::net {

namespace {

constexpr int kSliceSeconds = 5;
constexpr int kConnectLimitMs = 60000;
constexpr int kSocketInvalid = 10038; // not a socket: the operation needs one
constexpr int kInvalidArgument = 10022; // also: a host name that cannot be resolved
constexpr int kMessageTooLong = 10040;

bool isAbortOrReset(int socketError)
{
    return socketError == 10053 || socketError == 10054;
}

void setNonBlocking(int fd)
{
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool resolveIpv4(const std::string &host, in_addr &address)
{
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *answer = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0 || !answer)
        return false;
    address = reinterpret_cast<const sockaddr_in *>(answer->ai_addr)->sin_addr;
    ::freeaddrinfo(answer);
    return true;
}

} // namespace

SocketConnection::SocketConnection()
    : m_clock(&platform::SystemClock::instance())
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::error_code ec;
    m_tempDir = std::filesystem::temp_directory_path(ec);
    if (ec)
        m_tempDir = "/tmp";
    reset();
}

SocketConnection::~SocketConnection()
{
    stopWorker();
    close();
    {
        std::lock_guard lock{m_stateLock};
        m_filePath.clear();
        m_pendingText.clear();
    }
    setStopError(Exiting);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void SocketConnection::stopWorker()
{
    if (isFinished())
        return;
    // A running job ends at its next test of the record; the idle worker wakes for the stop.
    setStopError(Exiting);
    requestStop();
    m_workEvent.set();
    // The idle worker runs for the connection's whole life: end and collect it here, before any
    // destructor looks for a thread that is still running.
    waitUntilStopped();
    isFinished();
}

void SocketConnection::setClock(const platform::Clock *clock)
{
    m_clock.store(clock ? clock : &platform::SystemClock::instance());
}

// ---- error record ----

ErrorCode SocketConnection::error() const
{
    std::lock_guard lock{m_errorLock};
    return m_error;
}

void SocketConnection::clearError()
{
    std::lock_guard lock{m_errorLock};
    m_error.clear();
    m_stopFlag.store(false);
    drainWake();
}

bool SocketConnection::clearErrorUnlessStopped()
{
    // One step under the lock: a stop written by another thread between a test and a clear would be lost.
    std::lock_guard lock{m_errorLock};
    if (m_stopFlag.load())
        return false;
    m_error.clear();
    drainWake();
    return true;
}

void SocketConnection::setError(std::uint32_t category, std::int32_t code)
{
    std::lock_guard lock{m_errorLock};
    m_error.set(category, code);
    m_stopFlag.store(category == CatStop);
    if (category == CatStop)
        wake();
    else
        drainWake();
}

void SocketConnection::setError(const ErrorCode &record)
{
    std::lock_guard lock{m_errorLock};
    m_error = record;
    m_stopFlag.store(record.isStop());
    if (record.isStop())
        wake();
    else
        drainWake();
}

void SocketConnection::recordSocketError(int socketErrorNumber)
{
    std::lock_guard lock{m_errorLock};
    m_error.setSocketError(socketErrorNumber);
    m_stopFlag.store(false);
    drainWake();
}

void SocketConnection::setLocalError(std::int32_t code)
{
    setError(CatLocal, code);
}

void SocketConnection::setStopError(std::int32_t code)
{
    setError(CatStop, code);
}

bool SocketConnection::isStopRequested() const
{
    return m_stopFlag.load();
}

void SocketConnection::setErrorStatus(std::int32_t status)
{
    std::lock_guard lock{m_errorLock};
    m_error.setStatus(status);
}

void SocketConnection::setErrorDetail(std::string detail)
{
    std::lock_guard lock{m_errorLock};
    m_error.setDetail(std::move(detail));
}

void SocketConnection::wake()
{
    if (m_wakeFd < 0)
        return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_wakePending.store(true);
}

void SocketConnection::drainWake()
{
    // Only after a wake: the hot path clears the record before every block without a system call.
    if (m_wakeFd < 0 || !m_wakePending.exchange(false))
        return;
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &count, sizeof count);
}

int SocketConnection::pollSocket(short events, int timeoutMs)
{
    const int fd = m_sock.load();
    if (fd < 0) {
        errno = ENOTSOCK;
        return -1;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (m_stopFlag.load())
            return -2;
        int left = 0;
        if (timeoutMs > 0) {
            auto remaining =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            left = static_cast<int>(std::max<long long>(remaining, 0));
        }
        pollfd entries[2] = {{fd, events, 0}, {m_wakeFd, POLLIN, 0}};
        int ready = ::poll(entries, m_wakeFd >= 0 ? 2 : 1, left);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (m_stopFlag.load())
            return -2;
        if (entries[0].revents != 0)
            return 1;
        if (ready > 0 && entries[1].revents != 0) {
            // A stop request that was cleared again left the descriptor readable.
            std::lock_guard lock{m_errorLock};
            if (!m_stopFlag.load())
                drainWake();
        }
        if (left == 0 || Clock::now() >= deadline)
            return 0;
    }
}

// ---- socket operations ----

bool SocketConnection::createSocket(int type, int protocol)
{
    clearError();
    if (int old = m_sock.exchange(-1); old >= 0)
        ::close(old);
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        m_state.store(StateNone);
        return false;
    }
    m_sock.store(fd);
    m_state.store(StateCreated);
    return true;
}

bool SocketConnection::createAndBind(int port)
{
    if (!createSocket(SOCK_STREAM, 0))
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (port != 0) {
        int on = 1;
        ::setsockopt(m_sock.load(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (::bind(m_sock.load(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        return false;
    }
    m_state.store(StateCreated);
    return true;
}

bool SocketConnection::connect(const std::string &host, int port)
{
    clearError();
    if (m_sock.load() < 0 && !createSocket(SOCK_STREAM, 0))
        return false;
    m_state.store(StateConnecting);
    {
        std::lock_guard lock{m_lineLock};
        m_lineQueue.clear();
        m_partialLine.clear();
        m_afterBreak = false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (!resolveIpv4(host, address.sin_addr)) {
        recordSocketError(kInvalidArgument);
        m_state.store(StateCreated);
        return false;
    }
    const int fd = m_sock.load();
    setNonBlocking(fd);
    int socketError = 0;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            socketError = platform::socketErrorFromErrno(errno);
        } else {
            int ready = pollSocket(POLLOUT, kConnectLimitMs);
            if (ready == -2) {
                m_state.store(StateCreated);
                return false;
            }
            if (ready == 0) {
                socketError = platform::socketErrorFromErrno(ETIMEDOUT);
            } else if (ready < 0) {
                socketError = platform::socketErrorFromErrno(errno);
            } else {
                int pending = 0;
                socklen_t length = sizeof pending;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length);
                socketError = platform::socketErrorFromErrno(pending);
            }
        }
    }
    if (socketError != 0) {
        // A failed connect leaves the socket unusable: put a fresh one in its place.
        if (int old = m_sock.exchange(-1); old >= 0)
            ::close(old);
        int fresh = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        m_sock.store(fresh);
        recordSocketError(socketError);
        m_state.store(fresh >= 0 ? StateCreated : StateNone);
        return false;
    }
    m_state.store(StateConnected);
    return true;
}

bool SocketConnection::listen(int backlog)
{
    clearError();
    m_state.store(StateListening);
    if (::listen(m_sock.load(), backlog) != 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        m_state.store(StateCreated);
        return false;
    }
    return true;
}

bool SocketConnection::acceptInto(SocketConnection &target, int seconds)
{
    clearError();
    target.close();
    int ready = pollSocket(POLLIN, seconds * 1000);
    if (ready == 0 || ready == -2)
        return false;
    if (ready < 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        return false;
    }
    int fd = ::accept4(m_sock.load(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        return false;
    }
    target.m_sock.store(fd);
    target.m_state.store(StateConnected);
    return true;
}

bool SocketConnection::close()
{
    clearError();
    int fd = m_sock.exchange(-1);
    if (fd >= 0) {
        m_state.store(StateClosing);
        if (::close(fd) != 0)
            recordSocketError(platform::socketErrorFromErrno(errno));
    }
    m_state.store(StateNone);
    return !error().isSet();
}

bool SocketConnection::shutdown(int how)
{
    const int fd = m_sock.load();
    if (m_state.load() == StateNone || fd < 0)
        return true;
    int direction = how == ShutdownReceive ? SHUT_RD : how == ShutdownSend ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(fd, direction) != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Socket shutdown error %d\n", platform::socketErrorFromErrno(errno));
        core::DiagnosticLog::instance().write(text, 3);
        return false;
    }
    return true;
}

bool SocketConnection::waitWritable(int seconds)
{
    if (!clearErrorUnlessStopped())
        return false;
    int ready = pollSocket(POLLOUT, seconds * 1000);
    if (ready == 1)
        return true;
    if (ready == -1) {
        recordSocketError(platform::socketErrorFromErrno(errno));
    } else if (ready == 0) {
        int pending = 0;
        socklen_t length = sizeof pending;
        ::getsockopt(m_sock.load(), SOL_SOCKET, SO_ERROR, &pending, &length);
        recordSocketError(platform::socketErrorFromErrno(pending));
    }
    return false;
}

bool SocketConnection::waitReadable(int seconds)
{
    if (!clearErrorUnlessStopped())
        return false;
    int ready = pollSocket(POLLIN, seconds * 1000);
    if (ready == -1)
        recordSocketError(platform::socketErrorFromErrno(errno));
    return ready == 1;
}

bool SocketConnection::waitReadableSliced(int seconds)
{
    if (!clearErrorUnlessStopped())
        return false;
    int waited = 0;
    for (;;) {
        int ready = pollSocket(POLLIN, kSliceSeconds * 1000);
        if (ready == 1)
            return true;
        if (ready == -1) {
            recordSocketError(platform::socketErrorFromErrno(errno));
            return false;
        }
        if (ready == -2)
            return false;
        waited += kSliceSeconds;
        if (seconds > 0 && waited >= seconds)
            return false;
    }
}

void SocketConnection::closeSocketAfterFailure(int socketError)
{
    if (isAbortOrReset(socketError)) {
        if (int fd = m_sock.exchange(-1); fd >= 0)
            ::close(fd);
        m_state.store(StateNone);
    }
    recordSocketError(socketError);
}

bool SocketConnection::sendWhenWritable(const char *data, std::int64_t len, std::int64_t &sent)
{
    sent = 0;
    if (!clearErrorUnlessStopped())
        return false;
    if (m_sock.load() < 0)
        return false;
    int ready = pollSocket(POLLOUT, 0);
    if (ready == -2)
        return false;
    if (ready != 1)
        return true;
    return sendDirect(data, len, sent);
}

bool SocketConnection::sendDirect(const char *data, std::int64_t len, std::int64_t &sent)
{
    sent = 0;
    if (!clearErrorUnlessStopped())
        return false;
    const int fd = m_sock.load();
    if (fd < 0)
        return false;
    if (len < 0)
        len = static_cast<std::int64_t>(std::strlen(data));
    ssize_t n;
    do {
        n = ::send(fd, data, static_cast<std::size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        sent = n;
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return true;
    closeSocketAfterFailure(platform::socketErrorFromErrno(errno));
    return !error().isSet();
}

bool SocketConnection::receive(char *buffer, std::int64_t size, std::int64_t &got)
{
    got = 0;
    if (!clearErrorUnlessStopped())
        return false;
    const int fd = m_sock.load();
    if (fd < 0)
        return false;
    ssize_t n;
    do {
        n = ::recv(fd, buffer, static_cast<std::size_t>(size), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        got = n;
        return true;
    }
    if (n == 0) {
        // The peer closed: the socket goes, and the record stays clear.
        if (int closing = m_sock.exchange(-1); closing >= 0)
            ::close(closing);
        m_state.store(StateNone);
        return false;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return true;
    int socketError = platform::socketErrorFromErrno(errno);
    if (socketError == kMessageTooLong)
        return false;
    closeSocketAfterFailure(socketError);
    return false;
}

bool SocketConnection::localAddress(std::string &text, int &port)
{
    clearError();
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(m_sock.load(), reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        recordSocketError(platform::socketErrorFromErrno(errno));
        return false;
    }
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted);
    text = dotted;
    port = ntohs(address.sin_port);
    return true;
}

// ---- lines and replies ----

bool SocketConnection::splitLines(const char *chunk, std::size_t length)
{
    std::lock_guard lock{m_lineLock};
    std::size_t at = 0;
    if (m_afterBreak) {
        // The previous chunk ended inside a run of line breaks (a CR LF split across two reads).
        while (at < length && (chunk[at] == '\r' || chunk[at] == '\n'))
            ++at;
    }
    while (at < length) {
        const char *start = chunk + at;
        const char *end = chunk + length;
        const char *lineBreak = std::find_if(start, end, [](char c) { return c == '\r' || c == '\n'; });
        m_partialLine.append(start, static_cast<std::size_t>(lineBreak - start));
        if (m_partialLine.size() > kMaxLineBytes) {
            m_partialLine.clear();
            m_afterBreak = false;
            return false;
        }
        if (lineBreak == end) {
            m_afterBreak = false;
            return true;
        }
        m_lineQueue.push_back(std::move(m_partialLine));
        m_partialLine.clear();
        at = static_cast<std::size_t>(lineBreak - chunk);
        while (at < length && (chunk[at] == '\r' || chunk[at] == '\n'))
            ++at;
        m_afterBreak = at == length;
    }
    return true;
}

std::string SocketConnection::popLine()
{
    std::lock_guard lock{m_lineLock};
    if (m_lineQueue.empty())
        return {};
    std::string line = std::move(m_lineQueue.front());
    m_lineQueue.pop_front();
    return line;
}

bool SocketConnection::hasLines() const
{
    std::lock_guard lock{m_lineLock};
    return !m_lineQueue.empty();
}

int SocketConnection::replyCode(const std::string &line)
{
    if (line.size() <= 3 || line[3] != ' ')
        return -1;
    int value = 0;
    for (int i = 0; i < 3 && line[i] >= '0' && line[i] <= '9'; ++i)
        value = value * 10 + (line[i] - '0');
    return value == 0 ? -1 : value;
}

int SocketConnection::readReply(int seconds, std::deque<std::string> *sink)
{
    int code = -1;
    auto takeLines = [&] {
        while (code == -1 && hasLines()) {
            std::string line = popLine();
            code = replyCode(line);
            if (sink)
                sink->push_back(std::move(line));
        }
    };
    takeLines();
    char chunk[4096];
    std::size_t replyBytes = 0;
    while (code == -1) {
        if (!waitReadableSliced(seconds))
            return -1;
        std::int64_t got = 0;
        if (!receive(chunk, sizeof chunk, got))
            return -1;
        replyBytes += static_cast<std::size_t>(got);
        if (!splitLines(chunk, static_cast<std::size_t>(got)) || replyBytes > kMaxReplyBytes) {
            // A line without end, or a reply that never ends: the server is not speaking the protocol.
            if (int fd = m_sock.exchange(-1); fd >= 0)
                ::close(fd);
            m_state.store(StateNone);
            recordSocketError(kMessageTooLong);
            return -1;
        }
        takeLines();
    }
    return code;
}

} // namespace bw::net
