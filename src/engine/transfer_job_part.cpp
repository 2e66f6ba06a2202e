// SPDX-License-Identifier: MIT
// The download steps every protocol shares: choosing the file a download writes before it, and giving
// the finished file its name after it, so that no file the user has changes unasked.
#include "core/queue_list.h"
#include "engine/transfer_job.h"

namespace bw::engine {

PartFile TransferJob::preparePartFile(int id, const std::string &localPath, std::int64_t listedSize)
{
    const IfFileExists rule = m_timing.ifFileExists ? m_timing.ifFileExists->load() : IfFileExists::Rename;
    // A transfer of this very item started before: a partial file at the bare name is its own.
    const bool started = core::snapshotOrVanished(*m_queue, id).transferStart >= 0;
    PartFile part = PartFile::plan(localPath, listedSize, rule, started);
    switch (part.start()) {
    case PartFile::Start::Transfer:
        break;
    case PartFile::Start::Complete:
        status(part.statusLine());
        break;
    case PartFile::Start::Skip:
        status(part.statusLine());
        m_result = core::ItemStatus::StatusFinished;
        break;
    case PartFile::Start::Refused:
        status(part.statusLine());
        // An unwritable folder is the user's to mend: the item says why, not only the log.
        m_queue->setStatusDetail(id, part.statusLine());
        m_result = core::ItemStatus::StatusTransferFailed;
        break;
    }
    return part;
}

bool TransferJob::placePartFile(PartFile &part, bool transferred, std::optional<std::int64_t> serverTime)
{
    if (transferred && serverTime && keepsServerTimes())
        part.setModificationTime(*serverTime);
    const bool placed = part.finish(transferred);
    if (!transferred)
        return false;
    if (!part.statusLine().empty())
        status(part.statusLine());
    if (!placed)
        m_result = core::ItemStatus::StatusTransferFailed;
    return placed;
}

std::optional<std::int64_t> TransferJob::remoteModificationTime(const std::string &fileName)
{
    if (!keepsServerTimes())
        return std::nullopt;
    std::int64_t unixSeconds = 0;
    if (m_session->modificationTime(fileName, unixSeconds))
        return unixSeconds;
    // A server that cannot tell the time has not failed the download.
    m_session->clearErrorUnlessStopped();
    return std::nullopt;
}

} // namespace bw::engine
