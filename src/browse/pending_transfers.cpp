// SPDX-License-Identifier: MIT
#include "browse/pending_transfers.h"

#include <utility>

namespace bw::browse {

PendingTransfers::AbortFlag PendingTransfers::push(Transfer transfer)
{
    transfer.abort = std::make_shared<std::atomic<bool>>(false);
    m_transfers.push_back(std::move(transfer));
    return m_transfers.back().abort;
}

PendingTransfers::AbortFlag PendingTransfers::push(
    const QString &name, std::uint64_t sizeBytes, bool download, std::string viewPath)
{
    return push(Transfer{name, sizeBytes, download, nullptr, std::move(viewPath), {}, {}});
}

std::vector<PendingTransfers::Transfer> PendingTransfers::unabortedDownloads() const
{
    std::vector<Transfer> downloads;
    for (const Transfer &transfer : m_transfers) {
        if (transfer.download && !transfer.localPath.empty() && !transfer.abort->load())
            downloads.push_back(transfer);
    }
    return downloads;
}

void PendingTransfers::abortAll() const
{
    for (const Transfer &transfer : m_transfers)
        transfer.abort->store(true);
}

} // namespace bw::browse
