// SPDX-License-Identifier: MIT
// Fetches one big file over HTTP on several connections at once, each writing its segment at its own
// place in the part file. The first connection asks for the file's start and learns its size and
// validator; the others join once the file proves big enough, and a connection whose segment ends takes
// half of the largest one still running. Every segment carries If-Range, so a file that changes on the
// server is noticed and never stitched from two versions. The job's thread runs it and gets the state
// and progress reports; abort() may come from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/segment_state.h"
#include "net/error_code.h"
#include "net/proxy_route.h"
#include "net/tls_stream.h"

namespace bw::core {
class QueueList;
}

namespace bw::net {
class HttpConnection;
class SpeedLimits;
} // namespace bw::net

namespace bw::engine {

struct SegmentedHttpSetup
{
    std::string host;
    int port = 0;
    std::optional<net::TlsOptions> tls;
    std::string requestTarget; // as it goes on the wire
    std::string partPath;
    int itemId = 0;
    int timeoutSeconds = 30;
    int connections = 1; // the most at once
    net::SpeedLimits *speedLimits = nullptr; // borrowed, may be null
    core::QueueList *logTo = nullptr; // the connections' log lines go there; borrowed, may be null
    net::ProxyRoute proxy{}; // every segment's connection takes the item's route, never a direct one
};

enum class SegmentedOutcome
{
    Complete, // every byte of the file is in the part file
    NotSegmented, // the server sent no size, validator or range: fetch it the usual way
    Changed, // the file changed on the server: what the part file holds is of no use
    Failed, // the state tells what is missing
    Stopped,
};

class SegmentedHttpDownload
{
public:
    explicit SegmentedHttpDownload(SegmentedHttpSetup setup);
    ~SegmentedHttpDownload();

    // Called on the running thread: the state whenever the segments changed (and once a second while
    // bytes arrive), and the progress of the whole file.
    void setOnState(std::function<void(const SegmentState &)> onState) { m_onState = std::move(onState); }

    void setOnProgress(std::function<void(std::int64_t, std::int64_t)> onProgress)
    {
        m_onProgress = std::move(onProgress);
    }

    // Fetches what `resume` misses (the whole file when nothing), on the calling thread.
    SegmentedOutcome run(std::optional<SegmentState> resume);
    // Any thread: every connection stops with `code`, and run() returns Stopped.
    void abort(int code);

    // After run(): the most connections that fetched at once, the file's size and the first failure.
    int connectionsUsed() const;
    std::int64_t totalBytes() const;
    net::ErrorCode error() const;
    // The failing response's status line ("503 Service Unavailable"); empty when none came.
    std::string statusLine() const;

private:
    struct Segment;

    void startWorker();
    void workerLoop();
    // Takes a range to fetch into `segment`: a waiting one, else half of the largest running one.
    bool takeWork(Segment &segment);
    void fetch(Segment &segment);
    // What the probe learned; false once it ended without showing a big file with a validator.
    bool waitForProbe(SegmentedOutcome &outcome);
    // With m_mutex held.
    std::vector<ByteRange> missingLocked() const;
    void reportLocked(std::unique_lock<std::mutex> &lock, bool stateChanged);
    void stopAllLocked(int code);

    const SegmentedHttpSetup m_setup;
    std::function<void(const SegmentState &)> m_onState;
    std::function<void(std::int64_t, std::int64_t)> m_onProgress;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<Segment>> m_segments; // guarded by m_mutex
    std::vector<ByteRange> m_waiting; // guarded by m_mutex
    SegmentState m_state; // validator and size; guarded by m_mutex
    int m_allowed = 1; // connections allowed now (a 429 or 503 lowers it); guarded by m_mutex
    int m_running = 0; // workers alive; guarded by m_mutex
    int m_peak = 0; // guarded by m_mutex
    bool m_changedOnServer = false; // guarded by m_mutex
    bool m_probing = false; // the first connection has not yet shown the size; guarded by m_mutex
    bool m_probeFetched = false; // guarded by m_mutex
    std::int64_t m_probeTotal = -1; // guarded by m_mutex
    std::string m_probeValidator; // guarded by m_mutex
    int m_failures = 0; // guarded by m_mutex
    bool m_structureChanged = false; // guarded by m_mutex
    int m_stopCode = 0; // guarded by m_mutex
    net::ErrorCode m_error; // guarded by m_mutex
    std::string m_statusLine; // guarded by m_mutex
    std::vector<std::jthread> m_workers; // the running thread only
};

} // namespace bw::engine
