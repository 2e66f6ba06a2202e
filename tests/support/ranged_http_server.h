// SPDX-License-Identifier: MIT
// A small HTTP server on 127.0.0.1 that serves one file with byte ranges and an ETag, one thread per
// connection, and can put another version of the file in place when a request carries If-Range: for
// the tests of downloads fetched in segments.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/silent_listener.h"

namespace bw::test {

class RangedHttpServer
{
public:
    RangedHttpServer(std::string body, std::string etag);
    ~RangedHttpServer();

    int port() const { return m_listener.port(); }

    // The file changes to `body` with `etag` just before the first request that carries If-Range is
    // answered.
    void replaceAtFirstIfRange(std::string body, std::string etag);

    int requests() const { return m_requests.load(); }

    // The most connections that were open at once.
    int peakConnections() const { return m_peak.load(); }

private:
    void acceptLoop();
    void serve(int fd);

    SilentListener m_listener;
    std::mutex m_mutex;
    std::string m_body; // guarded by m_mutex
    std::string m_etag; // guarded by m_mutex
    std::string m_nextBody; // guarded by m_mutex
    std::string m_nextEtag; // guarded by m_mutex
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::atomic<int> m_open{0};
    std::atomic<int> m_peak{0};
    std::vector<std::jthread> m_connections; // the accepting thread only
    std::jthread m_acceptor;
};

} // namespace bw::test
