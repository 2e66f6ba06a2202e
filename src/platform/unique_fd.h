// SPDX-License-Identifier: MIT
// Owns one file descriptor and closes it when it goes. Move-only; used by one thread at a time.
#pragma once

#include <utility>

#include <unistd.h>

namespace bw::platform {

class UniqueFd
{
public:
    UniqueFd() = default;

    explicit UniqueFd(int fd)
        : m_fd(fd)
    {}

    ~UniqueFd() { reset(); }

    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(other.release())
    {}

    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    int get() const { return m_fd; }

    bool isOpen() const { return m_fd >= 0; }

    // Gives up ownership without closing.
    int release() { return std::exchange(m_fd, -1); }

    // Closes the descriptor held (if any) and takes `fd`. Returns the result of close(), 0 when
    // nothing was open, so a caller that cares (a file being written) can see a failed close.
    int reset(int fd = -1)
    {
        int result = 0;
        if (m_fd >= 0)
            result = ::close(m_fd);
        m_fd = fd;
        return result;
    }

private:
    int m_fd = -1;
};

} // namespace bw::platform
