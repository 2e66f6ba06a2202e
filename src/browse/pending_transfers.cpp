// SPDX-License-Identifier: MIT
#include "browse/pending_transfers.h"

#include <utility>

namespace bw::browse {

PendingTransfers::AbortFlag PendingTransfers::push(
    const QString &name, std::uint64_t sizeBytes, bool download, std::string viewPath)
{
    AbortFlag abort = std::make_shared<std::atomic<bool>>(false);
    m_transfers.push_back(Transfer{name, sizeBytes, download, abort, std::move(viewPath)});
    return abort;
}

void PendingTransfers::abortAll() const
{
    for (const Transfer &transfer : m_transfers)
        transfer.abort->store(true);
}

} // namespace bw::browse
