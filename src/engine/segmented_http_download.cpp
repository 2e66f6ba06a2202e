// SPDX-License-Identifier: MIT
#include "engine/segmented_http_download.h"

#include <algorithm>
#include <chrono>

#include "core/queue_list.h"
#include "net/connection_notification.h"
#include "net/http_connection.h"

namespace bw::engine {

namespace {

// The first connection asks for this much; a file no bigger is then complete with one request.
constexpr std::int64_t kProbeBytes = kMinSegmentedFileBytes;
// A segment that fails for another reason than a stop goes back to the waiting ranges; after this many
// such failures no connection takes a new range, and the item fails with the first reason.
constexpr int kMaxFailures = 3;
constexpr auto kReportInterval = std::chrono::milliseconds(250);
constexpr auto kStateInterval = std::chrono::seconds(1);

// The connections' log lines go to the queue's log; their progress is of one segment only, and the
// whole file's is reported instead.
void forwardLog(void *context, const net::ConnectionNotification &notification)
{
    auto *queue = static_cast<core::QueueList *>(context);
    if (!queue)
        return;
    if (notification.kind == net::NotifyCommandSent)
        queue->notifyLogSent(notification.text);
    else if (notification.kind == net::NotifyReplyReceived)
        queue->notifyLogReceived(notification.text);
    else if (notification.kind == net::NotifyStatus)
        queue->notifyLogStatus(notification.text);
}

// RFC 9110 15.5.20 / 15.6.4: the server asks for fewer requests.
bool asksForFewerConnections(int status)
{
    return status == 429 || status == 503;
}

} // namespace

struct SegmentedHttpDownload::Segment
{
    ByteRange range; // asked for; range.end may be lowered through `end` while it runs
    std::atomic<std::int64_t> end{0};
    bool busy = false; // guarded by m_mutex
    std::unique_ptr<net::HttpConnection> connection; // while fetching; guarded by m_mutex

    // The first byte not yet written. With m_mutex held.
    std::int64_t cursor() const
    {
        const std::int64_t written = connection ? connection->bytesDone() : 0;
        return std::min(std::max(range.first, written), end.load());
    }
};

SegmentedHttpDownload::SegmentedHttpDownload(SegmentedHttpSetup setup)
    : m_setup(std::move(setup))
{
    for (int i = 0; i < std::max(m_setup.connections, 1); ++i)
        m_segments.push_back(std::make_unique<Segment>());
    m_allowed = static_cast<int>(m_segments.size());
}

SegmentedHttpDownload::~SegmentedHttpDownload()
{
    abort(net::StopByEngine);
    m_workers.clear(); // joins
}

void SegmentedHttpDownload::abort(int code)
{
    std::lock_guard lock{m_mutex};
    if (m_stopCode == 0)
        m_stopCode = code;
    stopAllLocked(code);
    m_changed.notify_all();
}

void SegmentedHttpDownload::stopAllLocked(int code)
{
    for (const auto &segment : m_segments) {
        if (segment->connection)
            segment->connection->abort(code);
    }
}

int SegmentedHttpDownload::connectionsUsed() const
{
    std::lock_guard lock{m_mutex};
    return m_peak;
}

std::int64_t SegmentedHttpDownload::totalBytes() const
{
    std::lock_guard lock{m_mutex};
    return m_state.totalBytes;
}

net::ErrorCode SegmentedHttpDownload::error() const
{
    std::lock_guard lock{m_mutex};
    return m_error;
}

std::string SegmentedHttpDownload::statusLine() const
{
    std::lock_guard lock{m_mutex};
    return m_statusLine;
}

SegmentedOutcome SegmentedHttpDownload::run(std::optional<SegmentState> resume)
{
    SegmentedOutcome outcome = SegmentedOutcome::Failed;
    {
        std::lock_guard lock{m_mutex};
        if (resume) {
            m_state = *resume;
            m_waiting = planSegments(resume->missing, static_cast<int>(m_segments.size()), kMinSegmentBytes);
        } else {
            m_probing = true;
            Segment &probe = *m_segments.front();
            probe.range = {0, kProbeBytes};
            probe.end.store(kProbeBytes);
            probe.busy = true;
        }
    }
    if (resume) {
        for (std::size_t i = 0;
             i < std::min(m_segments.size(), resume->missing.empty() ? 0 : m_segments.size()); ++i)
            startWorker();
    } else {
        startWorker();
        if (!waitForProbe(outcome)) {
            m_workers.clear();
            return outcome;
        }
        for (std::size_t i = 1; i < m_segments.size(); ++i)
            startWorker();
    }

    auto lastState = std::chrono::steady_clock::now();
    std::unique_lock lock{m_mutex};
    while (m_running > 0) {
        m_changed.wait_for(lock, kReportInterval);
        const bool stateDue = std::chrono::steady_clock::now() - lastState >= kStateInterval;
        if (stateDue || m_structureChanged)
            lastState = std::chrono::steady_clock::now();
        reportLocked(lock, stateDue || m_structureChanged);
    }
    lock.unlock();
    m_workers.clear();
    lock.lock();
    const bool complete = missingLocked().empty();
    if (m_changedOnServer)
        outcome = SegmentedOutcome::Changed;
    else if (complete)
        outcome = SegmentedOutcome::Complete;
    else
        outcome = m_stopCode != 0 ? SegmentedOutcome::Stopped : SegmentedOutcome::Failed;
    if (outcome != SegmentedOutcome::Changed)
        reportLocked(lock, true);
    return outcome;
}

bool SegmentedHttpDownload::waitForProbe(SegmentedOutcome &outcome)
{
    std::unique_lock lock{m_mutex};
    Segment &probe = *m_segments.front();
    while (true) {
        const std::int64_t total = probe.connection ? probe.connection->wholeSize() : m_probeTotal;
        const std::string validator = probe.connection ? probe.connection->validator() : m_probeValidator;
        if (total >= kMinSegmentedFileBytes && !validator.empty() && m_segments.size() > 1) {
            m_state = {validator, total, {}};
            m_waiting = planSegments(
                {{kProbeBytes, total}}, static_cast<int>(m_segments.size()) - 1, kMinSegmentBytes);
            m_probing = false;
            // The state is kept before any byte past the probe's lands, so a crash cannot leave a part
            // file with holes that nothing describes.
            reportLocked(lock, true);
            return true;
        }
        if (!probe.busy && m_running == 0)
            break;
        m_changed.wait_for(lock, std::chrono::milliseconds(20));
    }
    // The probe fetched the start of the file: all of it when the file is no bigger.
    const bool whole = m_probeFetched && m_probeTotal >= 0 && m_probeTotal <= kProbeBytes;
    m_state.totalBytes = m_probeTotal;
    if (m_stopCode != 0)
        outcome = SegmentedOutcome::Stopped;
    else
        outcome = whole ? SegmentedOutcome::Complete : SegmentedOutcome::NotSegmented;
    return false;
}

void SegmentedHttpDownload::startWorker()
{
    const std::size_t index = m_workers.size();
    if (index >= m_segments.size())
        return;
    {
        std::lock_guard lock{m_mutex};
        ++m_running;
    }
    m_workers.emplace_back([this, index] {
        Segment &segment = *m_segments[index];
        while (true) {
            {
                std::lock_guard lock{m_mutex};
                if (!segment.busy && !takeWork(segment))
                    break;
                const int busy = static_cast<int>(std::count_if(
                    m_segments.begin(), m_segments.end(), [](const auto &each) { return each->busy; }));
                m_peak = std::max(m_peak, busy);
            }
            fetch(segment);
        }
        {
            std::lock_guard lock{m_mutex};
            --m_running;
        }
        m_changed.notify_all();
    });
}

bool SegmentedHttpDownload::takeWork(Segment &segment)
{
    const int busy = static_cast<int>(
        std::count_if(m_segments.begin(), m_segments.end(), [](const auto &each) { return each->busy; }));
    if (m_stopCode != 0 || m_changedOnServer || m_failures >= kMaxFailures || m_probing || busy >= m_allowed)
        return false;
    ByteRange taken;
    if (const std::optional<std::size_t> largest = largestRange(m_waiting)) {
        taken = m_waiting[*largest];
        m_waiting.erase(m_waiting.begin() + static_cast<std::ptrdiff_t>(*largest));
    } else {
        // No connection sits idle while another has much left: it takes the second half.
        Segment *victim = nullptr;
        ByteRange victimLeft;
        for (const auto &each : m_segments) {
            const ByteRange left{each->busy ? each->cursor() : 0, each->busy ? each->end.load() : 0};
            if (left.size() > victimLeft.size()) {
                victim = each.get();
                victimLeft = left;
            }
        }
        const std::optional<ByteRange> half =
            victim ? splitRunning(victimLeft, kMinSegmentBytes) : std::nullopt;
        if (!half)
            return false;
        victim->end.store(victimLeft.end);
        taken = *half;
    }
    segment.range = taken;
    segment.end.store(taken.end);
    segment.busy = true;
    m_structureChanged = true;
    return true;
}

void SegmentedHttpDownload::fetch(Segment &segment)
{
    auto owned = std::make_unique<net::HttpConnection>();
    net::HttpConnection &http = *owned;
    http.setObserver(&forwardLog, m_setup.logTo);
    http.setConnectionId(m_setup.itemId);
    http.setTimeout(m_setup.timeoutSeconds);
    http.socketConnection().setSpeedLimits(m_setup.speedLimits);
    http.socketConnection().setMinSpeedGrace(m_setup.timeoutSeconds);
    http.setTls(m_setup.tls);
    http.setProxy(m_setup.proxy);
    net::HttpRange range;
    {
        std::lock_guard lock{m_mutex};
        segment.connection = std::move(owned);
        if (m_stopCode != 0)
            http.abort(m_stopCode);
        range = {segment.range.first, segment.range.end - 1, m_state.validator, &segment.end};
    }
    bool ok = http.createSocket() && http.connect(m_setup.host, m_setup.port, {}, {}, m_setup.itemId);
    if (ok) {
        http.setRange(range);
        ok = http.download(m_setup.partPath, m_setup.requestTarget);
    }
    http.disconnect(net::StopByEngine);
    {
        std::lock_guard lock{m_mutex};
        const ByteRange left{segment.cursor(), segment.end.load()};
        if (m_probing) {
            m_probeFetched = ok;
            m_probeTotal = http.wholeSize();
            m_probeValidator = http.validator();
        } else if (!ok && http.rangeRefused()) {
            m_changedOnServer = true;
            stopAllLocked(net::StopByEngine);
        } else if (!ok && m_stopCode == 0 && !m_changedOnServer) {
            const net::ErrorCode error = http.error();
            if (!m_error.isSet()) {
                m_error = error;
                m_statusLine = http.statusLine();
            }
            const int busy = static_cast<int>(std::count_if(
                m_segments.begin(), m_segments.end(), [](const auto &each) { return each->busy; }));
            if (asksForFewerConnections(error.status()) && busy > 1)
                m_allowed = std::max(1, busy - 1);
            else
                ++m_failures;
        }
        if (!ok && left.size() > 0 && !m_probing)
            m_waiting.push_back(left);
        if (ok && !m_error.isSet() && m_failures == 0)
            m_statusLine.clear();
        segment.busy = false;
        segment.connection.reset();
        m_structureChanged = true;
    }
    m_changed.notify_all();
}

std::vector<ByteRange> SegmentedHttpDownload::missingLocked() const
{
    std::vector<ByteRange> missing = m_waiting;
    for (const auto &segment : m_segments) {
        if (segment->busy && segment->cursor() < segment->end.load())
            missing.push_back({segment->cursor(), segment->end.load()});
    }
    std::sort(missing.begin(), missing.end(),
        [](const ByteRange &a, const ByteRange &b) { return a.first < b.first; });
    return missing;
}

void SegmentedHttpDownload::reportLocked(std::unique_lock<std::mutex> &lock, bool stateChanged)
{
    if (m_probing)
        return;
    SegmentState state = m_state;
    state.missing = missingLocked();
    m_structureChanged = false;
    lock.unlock();
    if (m_onProgress)
        m_onProgress(state.totalBytes - bytesLeft(state.missing), state.totalBytes);
    if (stateChanged && m_onState)
        m_onState(state);
    lock.lock();
}

} // namespace bw::engine
