// SPDX-License-Identifier: MIT
// The commands of the manual connection: what each queues, and how it runs on the controller's thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

#include "browse/download_target.h"
#include "browse/manual_connection_controller.h"
#include "core/queue_list.h"
#include "net/error_code.h"
#include "net/ftp_connection.h"

namespace bw::browse {

namespace {

// How soon the window's Abort reaches a running transfer.
constexpr std::chrono::milliseconds kAbortWatchInterval{50};

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// A failed command clears its error for the next one, but never a stop request: that one belongs to
// the job, which wants its connection back.
void forgetFailure(net::FtpConnection &connection)
{
    connection.clearErrorUnlessStopped();
}

} // namespace

bool ManualConnectionController::refresh(bool force)
{
    return enqueue({[this, force](net::FtpConnection &connection) { runRefresh(connection, force); }, {}});
}

bool ManualConnectionController::changeDirectory(const std::string &path)
{
    if (refuseUnsafe(path))
        return false;
    return enqueue({[path](net::FtpConnection &connection) {
                        if (!connection.changeDirectory(path))
                            forgetFailure(connection);
                    },
        {}});
}

bool ManualConnectionController::makeDirectory(const std::string &name)
{
    if (refuseUnsafe(name))
        return false;
    return enqueue({[name](net::FtpConnection &connection) {
                        if (!connection.makeDirectory(name))
                            forgetFailure(connection);
                    },
        {}});
}

bool ManualConnectionController::remove(const std::vector<std::string> &names)
{
    if (std::any_of(
            names.begin(), names.end(), [this](const std::string &name) { return refuseUnsafe(name); }))
        return false;
    return enqueue({[this, names](net::FtpConnection &connection) {
                        for (const std::string &name : names) {
                            if (mustStop())
                                return;
                            if (!connection.deleteFile(name) && !connection.removeDirectory(name))
                                forgetFailure(connection);
                        }
                    },
        {}});
}

bool ManualConnectionController::rename(const std::string &from, const std::string &to)
{
    if (refuseUnsafe(from) || refuseUnsafe(to))
        return false;
    return enqueue({[from, to](net::FtpConnection &connection) {
                        if (!connection.rename(from, to))
                            forgetFailure(connection);
                    },
        {}});
}

bool ManualConnectionController::download(
    const std::string &name, const std::string &localPath, std::uint64_t sizeBytes, AbortFlag abort)
{
    if (refuseUnsafe(name))
        return false;
    const Transfer transfer{true, name, localPath, sizeBytes, std::move(abort)};
    return enqueue({[this, transfer](net::FtpConnection &connection) { runTransfer(connection, transfer); },
        [this, name] {
            emit transferFinished(QString::fromStdString(name), false);
        }});
}

bool ManualConnectionController::upload(
    const std::string &localPath, const std::string &name, AbortFlag abort)
{
    if (refuseUnsafe(name))
        return false;
    const Transfer transfer{false, name, localPath, 0, std::move(abort)};
    return enqueue({[this, transfer](net::FtpConnection &connection) { runTransfer(connection, transfer); },
        [this, name] {
            emit transferFinished(QString::fromStdString(name), false);
        }});
}

std::optional<std::vector<CachedEntry>> ManualConnectionController::cachedListing(
    const std::string &directory) const
{
    std::lock_guard lock{m_mutex};
    const std::vector<CachedEntry> *entries = m_cache.find(directory);
    if (!entries)
        return std::nullopt;
    return *entries;
}

void ManualConnectionController::storeListing(const std::string &directory, std::vector<CachedEntry> entries)
{
    std::lock_guard lock{m_mutex};
    m_cache.store(directory, std::move(entries));
}

void ManualConnectionController::runRefresh(net::FtpConnection &connection, bool force)
{
    RemoteListing listing;
    std::string reported;
    const bool known = connection.printWorkingDirectory(reported) && !reported.empty();
    std::string directory = known ? reported : std::string(1, '/');
    listing.shownDirectory = directory;
    if (!isSeparator(directory.front()))
        directory.insert(directory.begin(), '/');
    if (!isSeparator(directory.back()))
        directory.push_back('/');
    listing.directory = directory;
    if (mustStop())
        return;

    std::optional<std::vector<CachedEntry>> cached;
    if (!force)
        cached = cachedListing(directory);
    if (cached) {
        listing.entries = std::move(*cached);
    } else {
        std::int32_t itemId = 0;
        {
            std::lock_guard lock{m_mutex};
            itemId = m_itemId;
        }
        if (connection.list("", true, core::snapshotOrVanished(m_queue, itemId).passive)) {
            while (connection.parseNextEntry("*")) {
                const net::EntryTime &time = connection.entryTime();
                CachedEntry item;
                item.name = connection.entryName();
                item.isDirectory = connection.entryIsDirectory();
                item.size = static_cast<std::uint64_t>(std::max<std::int64_t>(connection.entrySize(), 0));
                item.dateText =
                    dateText(time.year, time.month, time.day, time.hour, time.minute).toStdString();
                listing.entries.push_back(std::move(item));
            }
            storeListing(directory, listing.entries);
        }
    }
    emit listingReady(listing);
}

void ManualConnectionController::runTransfer(net::FtpConnection &connection, const Transfer &transfer)
{
    const auto stopWanted = [&] {
        return transfer.abort->load() || handBackWanted();
    };
    std::int32_t itemId = 0;
    {
        std::lock_guard lock{m_mutex};
        itemId = m_itemId;
    }
    const bool passive = core::snapshotOrVanished(m_queue, itemId).passive;
    // Noted before the file is opened, so a failure takes away only what this transfer added.
    const DownloadTarget target(transfer.download ? transfer.localPath : std::string());
    bool completed = false;
    if (!stopWanted()) {
        // The transfer runs here to its end; the window's Abort (or a hand-back) reaches it as a stop
        // request, which abort() may make from any thread. The connection closes its own sockets.
        std::mutex mutex;
        std::condition_variable_any tick;
        std::atomic<bool> stoppedHere{false};
        std::jthread watcher([&](std::stop_token stop) {
            std::unique_lock lock{mutex};
            while (!tick.wait_for(lock, stop, kAbortWatchInterval, [] { return false; })) {
                if (stop.stop_requested())
                    return;
                if (stopWanted()) {
                    stoppedHere.store(true);
                    connection.abort(net::StopByItem);
                    return;
                }
            }
        });
        const auto progress = [&](std::int64_t doneBytes, std::int64_t) {
            emit transferProgress(connection.progressPercent(), doneBytes);
        };
        completed = transfer.download
            ? connection.download(transfer.localPath, transfer.name, true, passive,
                static_cast<std::int64_t>(transfer.sizeBytes), false, progress)
            : connection.upload(transfer.localPath, transfer.name, true, passive, progress);
        watcher.request_stop();
        watcher.join();
        // The stop was this transfer's own: the connection goes on with the next command. A stop the
        // job or the window's hand-back wants stays.
        if (stoppedHere.load() && !mustStop())
            connection.clearStop();
    }

    if (!completed) {
        const QString cause = stopWanted() ? tr("aborted") : QString::fromLatin1(connection.error().text());
        log(tr("Transfer failed: %1 (%2)").arg(QString::fromStdString(transfer.localPath), cause));
        if (transfer.download && !target.restoreAfterFailure())
            log(tr("The partial file %1 could not be taken away.")
                    .arg(QString::fromStdString(transfer.localPath)));
    }
    emit transferFinished(QString::fromStdString(transfer.name), completed);
}

} // namespace bw::browse
