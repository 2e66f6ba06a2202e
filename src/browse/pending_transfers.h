// SPDX-License-Identifier: MIT
// The remote browser's direct transfers in the order they run: the first one runs and has the "File
// Transfer" window, the others wait behind it. Each carries the flag that aborts it. GUI thread only.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <QString>

namespace bw::browse {

class PendingTransfers
{
public:
    using AbortFlag = std::shared_ptr<std::atomic<bool>>;

    struct Transfer
    {
        QString name;
        std::uint64_t sizeBytes = 0;
        bool download = false;
        AbortFlag abort;
        std::string viewPath; // View File's temporary file, opened once the download completed
        std::string localPath; // a download's local file
        std::string remoteFolder; // the server's folder it comes from, ending with a separator
    };

    // Queues a transfer behind the others and returns its abort flag, not set.
    AbortFlag push(Transfer transfer);
    AbortFlag push(const QString &name, std::uint64_t sizeBytes, bool download, std::string viewPath = {});

    // Forgets the transfer pushed last (nobody will run it).
    void dropLast() { m_transfers.pop_back(); }

    // The running transfer ended: it leaves, and the next one (if any) is first.
    void dropFirst() { m_transfers.pop_front(); }

    void clear() { m_transfers.clear(); }

    // Sets the abort flag of every transfer, running or waiting.
    void abortAll() const;

    const Transfer &first() const { return m_transfers.front(); }

    // The downloads to a local file, running or waiting, that nobody aborted: what quitting interrupts.
    std::vector<Transfer> unabortedDownloads() const;

    bool isEmpty() const { return m_transfers.empty(); }

    std::size_t size() const { return m_transfers.size(); }

private:
    std::deque<Transfer> m_transfers;
};

} // namespace bw::browse
