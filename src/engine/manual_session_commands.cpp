// SPDX-License-Identifier: MIT
// The commands of the manual session: what each queues, and how it runs on the session's thread.
#include <algorithm>

#include "engine/download_target.h"
#include "engine/manual_session.h"
#include "engine/part_file.h"
#include "net/error_code.h"

namespace bw::engine {

namespace {

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

int percentOf(std::int64_t doneBytes, std::int64_t totalBytes)
{
    if (totalBytes <= 0)
        return 0;
    return static_cast<int>(std::clamp<std::int64_t>(doneBytes * 100 / totalBytes, 0, 100));
}

} // namespace

// A failed command clears its error for the next one, but never a stop request: that one belongs to
// whoever asked for the session back.
void ManualSession::forgetFailure(net::RemoteSession &session, bool succeeded)
{
    if (!succeeded)
        session.clearErrorUnlessStopped();
}

bool ManualSession::refresh(bool force)
{
    return enqueue({[this, force](net::RemoteSession &session) { runRefresh(session, force); }, {}});
}

bool ManualSession::changeDirectory(const std::string &path)
{
    return enqueue(
        {[path](net::RemoteSession &session) { forgetFailure(session, session.changeFolder(path)); }, {}});
}

bool ManualSession::makeDirectory(const std::string &name)
{
    return enqueue(
        {[name](net::RemoteSession &session) { forgetFailure(session, session.makeFolder(name)); }, {}});
}

bool ManualSession::remove(const std::vector<std::string> &names)
{
    return enqueue({[this, names](net::RemoteSession &session) {
                        for (const std::string &name : names) {
                            if (mustStop())
                                return;
                            forgetFailure(session, session.removeFile(name) || session.removeFolder(name));
                        }
                    },
        {}});
}

bool ManualSession::rename(const std::string &from, const std::string &to)
{
    return enqueue(
        {[from, to](net::RemoteSession &session) { forgetFailure(session, session.rename(from, to)); }, {}});
}

bool ManualSession::download(const std::string &name, const std::string &localPath, std::uint64_t sizeBytes,
    AbortFlag abort, IfFileExists ifExists)
{
    const Transfer transfer{true, name, localPath, sizeBytes, std::move(abort), ifExists};
    return enqueue({[this, transfer](net::RemoteSession &session) { runTransfer(session, transfer); },
        [this, name] {
            if (m_events.transferFinished)
                m_events.transferFinished(name, false);
        }});
}

bool ManualSession::upload(const std::string &localPath, const std::string &name, AbortFlag abort)
{
    const Transfer transfer{false, name, localPath, 0, std::move(abort)};
    return enqueue({[this, transfer](net::RemoteSession &session) { runTransfer(session, transfer); },
        [this, name] {
            if (m_events.transferFinished)
                m_events.transferFinished(name, false);
        }});
}

void ManualSession::runRefresh(net::RemoteSession &session, bool force)
{
    ManualListing listing;
    std::string reported;
    const bool known = session.currentFolder(reported) && !reported.empty();
    std::string directory = known ? reported : std::string(1, '/');
    listing.shownDirectory = directory;
    if (!isSeparator(directory.front()))
        directory.insert(directory.begin(), '/');
    if (!isSeparator(directory.back()))
        directory.push_back('/');
    listing.directory = directory;
    if (mustStop())
        return;

    bool cached = false;
    if (!force) {
        std::lock_guard lock{m_wake->mutex};
        const auto found = m_cache.find(directory);
        if (found != m_cache.end()) {
            listing.entries = found->second;
            cached = true;
        }
    }
    if (!cached && session.list("", listing.entries)) {
        std::lock_guard lock{m_wake->mutex};
        m_cache[directory] = listing.entries;
    }
    if (m_events.listingReady)
        m_events.listingReady(listing);
}

void ManualSession::runTransfer(net::RemoteSession &session, const Transfer &transfer)
{
    const auto stopWanted = [&] {
        return transfer.abort->load() || mustStop();
    };
    // Noted before the part file is made, so a failure takes away only what this transfer added.
    const DownloadTarget target(transfer.download ? PartFile::partPathOf(transfer.localPath) : std::string());
    // The size is not taken as the listing's: a local file of the same length is downloaded again.
    PartFile part =
        transfer.download ? PartFile::plan(transfer.localPath, -1, transfer.ifExists, false) : PartFile();
    const bool runs = part.start() == PartFile::Start::Transfer;
    std::string cause = runs ? std::string() : part.statusLine();
    bool completed = false;
    bool keepPart = false; // the program quits: a queue item resumes from the part file
    if (runs && !stopWanted()) {
        {
            std::lock_guard lock{m_wake->mutex};
            m_transferAbort = transfer.abort;
        }
        // An Abort that came before m_transferAbort was set found nothing to stop: look once more.
        if (stopWanted())
            session.stopTransfer(net::StopByItem);
        const net::TransferProgress progress = [&](std::int64_t doneBytes, std::int64_t totalBytes) {
            if (m_events.transferProgress)
                m_events.transferProgress(percentOf(doneBytes, totalBytes), doneBytes);
        };
        completed = transfer.download ? session.get(transfer.name, part.writePath(),
                        static_cast<std::int64_t>(transfer.sizeBytes), true, progress)
                                      : session.put(transfer.localPath, transfer.name, progress);
        std::lock_guard lock{m_wake->mutex};
        m_transferAbort.reset();
        keepPart = m_keptDownload == transfer.abort;
        m_keptDownload.reset();
    }
    if (transfer.download && !part.finish(completed) && completed) {
        cause = part.statusLine();
        completed = false;
    }

    if (!completed) {
        const bool aborted = stopWanted();
        if (cause.empty())
            cause = session.error().text();
        tell(ManualNotice::TransferFailed, transfer.localPath, aborted, aborted ? "" : cause);
        if (transfer.download && runs && !keepPart && !target.restoreAfterFailure())
            tell(ManualNotice::PartialFileKept, part.writePath());
        session.clearErrorUnlessStopped();
    }
    if (m_events.transferFinished)
        m_events.transferFinished(transfer.name, completed);
}

} // namespace bw::engine
