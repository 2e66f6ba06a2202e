// SPDX-License-Identifier: MIT
// A big HTTP download fetched on several connections: when the job segments it, how it resumes the
// segments a stopped run left, and how the outcome becomes the item's result.
#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/queue_list.h"
#include "engine/segmented_http_download.h"
#include "engine/transfer_job.h"
#include "net/http_connection.h"
#include "platform/unique_fd.h"

namespace bw::engine {

namespace {

std::int64_t sizeOfFile(const std::string &path)
{
    struct stat info
    {};

    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : -1;
}

// How much of a part file without a segment state is the file's start. One that has a hole before its end
// was written in segments by a run that ended before their state was saved: only the blocks before the
// hole are known (the block the hole begins in may hold zeros past the last byte written).
std::int64_t knownStart(const std::string &path, std::int64_t sizeBytes)
{
    const platform::UniqueFd file{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};

    struct stat info
    {};

    const off_t hole = file.isOpen() ? ::lseek(file.get(), 0, SEEK_HOLE) : -1;
    if (hole < 0 || hole >= sizeBytes || ::fstat(file.get(), &info) != 0)
        return sizeBytes;
    const std::int64_t block = std::max<std::int64_t>(info.st_blksize, 1);
    return std::max<std::int64_t>(hole / block * block - block, 0);
}

} // namespace

std::optional<bool> TransferJob::downloadInSegments(int id, const PartFile &part, const std::string &target)
{
    const core::QueueItem item = core::snapshotOrVanished(*m_queue, id);
    const int cap = m_timing.maxSegments ? m_timing.maxSegments->load() : 1;
    const int connections = std::max(1, std::min(cap, m_queue->connectionsForItem(id)));
    const std::string &partPath = part.writePath();
    // Only a part file of our own is written in segments, never a file at the user's name.
    if (!partPath.ends_with(kPartSuffix))
        return std::nullopt;
    const std::int64_t partBytes = sizeOfFile(partPath);
    std::optional<SegmentState> resume;
    if (!item.segmentState.empty())
        resume = decodeSegmentState(item.segmentState);
    // A part file the state cannot describe (state damaged, or the file gone, made anew or longer) may
    // have holes nobody can tell: it starts over.
    const bool stateUsable = resume && partBytes >= writtenExtent(*resume) && partBytes <= resume->totalBytes;
    if (!item.segmentState.empty() && !stateUsable) {
        resume.reset();
        m_queue->setSegmentState(id, {});
        if (partBytes > 0 && ::truncate(partPath.c_str(), 0) != 0)
            return false;
    } else if (const std::int64_t known = resume ? partBytes : knownStart(partPath, partBytes);
               known < partBytes) {
        status("The partial file " + partPath + " has a gap; it is resumed from before it.");
        if (::truncate(partPath.c_str(), known) != 0)
            return false;
        return std::nullopt;
    } else if (!resume && (connections <= 1 || partBytes != 0)) {
        return std::nullopt; // a file resumed from its length, or one connection: the usual way
    }

    SegmentedHttpSetup setup{m_selected.host, m_selected.port,
        core::isTlsScheme(item.scheme) ? std::optional(tlsOptions()) : std::nullopt, target, partPath, id,
        item.timeout, connections, m_timing.speedLimits, m_queue, m_selected.proxy};
    // The job's own connection would sit idle meanwhile; the segments open theirs.
    m_http->close();
    for (int attempt = 0; attempt < 2; ++attempt) {
        SegmentedHttpDownload download(setup);
        const SegmentedOutcome outcome = runSegments(id, download, resume);
        switch (outcome) {
        case SegmentedOutcome::Complete:
        case SegmentedOutcome::Failed:
            return endSegments(id, part, download, outcome == SegmentedOutcome::Complete);
        case SegmentedOutcome::Stopped:
            return false;
        case SegmentedOutcome::NotSegmented:
            m_queue->setSegmentState(id, {});
            m_http->reset();
            if (!m_http->createSocket()
                || !m_http->connect(
                    m_selected.host, m_selected.port, m_selected.user, m_selected.password, id))
                return false;
            return std::nullopt;
        case SegmentedOutcome::Changed:
            // Never stitched from two versions: the bytes of the old one go, and the new one starts.
            status("The file changed on the server; the download starts over.");
            m_queue->setSegmentState(id, {});
            resume.reset();
            if (::truncate(partPath.c_str(), 0) != 0)
                return false;
            break;
        }
    }
    status("The file changed on the server again; the download is tried later.");
    m_result = core::ItemStatus::StatusTransferFailed;
    return false;
}

SegmentedOutcome TransferJob::runSegments(
    int id, SegmentedHttpDownload &download, std::optional<SegmentState> resume)
{
    download.setOnState([this, id](const SegmentState &state) {
        m_queue->setSegmentState(id, encodeSegmentState(state));
        changed(1, id);
    });
    download.setOnProgress(
        [this, id](std::int64_t done, std::int64_t total) { m_queue->setProgress(id, done, total); });
    {
        std::lock_guard lock{m_jobLock};
        m_segmented = &download;
    }
    if (stopRequested())
        download.abort(m_stopCode.load());
    const SegmentedOutcome outcome = download.run(std::move(resume));
    std::lock_guard lock{m_jobLock};
    m_segmented = nullptr;
    return outcome;
}

bool TransferJob::endSegments(
    int id, const PartFile &part, const SegmentedHttpDownload &download, bool complete)
{
    const std::string connections = std::to_string(download.connectionsUsed());
    if (complete && sizeOfFile(part.writePath()) == download.totalBytes()) {
        m_queue->setSegmentState(id, {});
        status("Downloaded on " + connections + " connections.");
        return true;
    }
    if (stoppedMidway(id))
        return false;
    const net::ErrorCode error = download.error();
    const std::string said = download.statusLine();
    if (complete) {
        // Every range arrived, yet the file is not the size the server gave: nothing is trusted.
        m_queue->setSegmentState(id, {});
        ::truncate(part.writePath().c_str(), 0);
        status("The downloaded file is not the size the server gave; the download starts over.");
    } else {
        status(std::string(error.text()) + (said.empty() ? "" : " (" + said + ")") + " on " + connections
            + " connections");
    }
    m_queue->setStatusDetail(id, said);
    m_result = core::ItemStatus::StatusTransferFailed;
    return false;
}

} // namespace bw::engine
