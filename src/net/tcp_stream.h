// SPDX-License-Identifier: MIT
// A plain TCP socket as a ByteStream. Only the owner's thread opens, uses and closes it; the
// descriptor is atomic because other threads may ask whether a socket is there (or its address).
#pragma once

#include <atomic>

#include "net/byte_stream.h"
#include "net/stop_signal.h"

namespace bw::net {

class TcpStream final : public ByteStream
{
public:
    // The stop signal is borrowed from the connection and must outlive the stream.
    explicit TcpStream(StopSignal &stop);
    ~TcpStream() override;
    TcpStream(const TcpStream &) = delete;
    TcpStream &operator=(const TcpStream &) = delete;

    // Makes a new IPv4 stream socket (closing any old one); 0, or the errno value.
    int open();
    // The same for an address family (AF_INET or AF_INET6).
    int open(int family);
    // Takes over a connected, non-blocking descriptor (an accepted connection).
    void adopt(int fd);

    int fd() const { return m_fd.load(); }

    IoResult read(char *buffer, std::int64_t size) override;
    IoResult write(const char *data, std::int64_t size) override;
    WaitResult wait(StreamInterest interest, int timeoutMs) override;
    int shutdown(ShutdownDirection direction) override;
    int close() override;

    bool isOpen() const override { return m_fd.load() >= 0; }

    int zeroCopyFd() const override { return m_fd.load(); }

private:
    StopSignal &m_stop;
    std::atomic<int> m_fd{-1};
};

} // namespace bw::net
