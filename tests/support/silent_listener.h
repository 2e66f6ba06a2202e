// SPDX-License-Identifier: MIT
// A listener on 127.0.0.1 at a free port that takes connections into its backlog and never says a
// word: a login to it waits for the greeting as long as the test needs. A test that wants to see the
// connections accepts them from fd().
#pragma once

namespace bw::test {

class SilentListener
{
public:
    SilentListener();
    ~SilentListener();
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
