// SPDX-License-Identifier: MIT
// Directory expansion of a transfer job: each entry of a remote or local directory becomes a queue item
// of its own, which expands again when a worker reaches it, so trees travel level by level.
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "core/queue_list.h"
#include "core/url.h"
#include "engine/local_path.h"
#include "engine/remote_tree_bounds.h"
#include "engine/transfer_job.h"
#include "net/remote_session.h"

namespace bw::engine {

namespace {

std::string withoutTrailingSeparators(std::string text)
{
    while (!text.empty() && (text.back() == '/' || text.back() == '\\'))
        text.pop_back();
    return text;
}

// The name as a status line can show it: a control character becomes "?".
std::string shownName(std::string name)
{
    for (char &c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return name;
}

} // namespace

std::string childUrlName(const std::string &name)
{
    // "@" would be read as the end of the user information, "%" as the start of an escape.
    std::string out;
    for (const char c : name) {
        if (c == '%')
            out += "%25";
        else
            out += c;
    }
    return core::escapeAt(out);
}

std::vector<std::string> convertedLocalNames(
    const std::vector<std::string> &names, FileNameConversion conversion)
{
    std::vector<std::string> local(names.size());
    std::set<std::string> taken;
    // Names the conversion leaves as they are keep them: no other entry may take them away.
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (convertFileName(names[i], conversion) == names[i] && taken.insert(names[i]).second)
            local[i] = names[i];
    }
    // The others take their converted name, else (a.txt and A.txt made lowercase) the server's name,
    // else none: two downloads must never share one file.
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!local[i].empty())
            continue;
        const std::string converted = convertFileName(names[i], conversion);
        if (taken.insert(converted).second)
            local[i] = converted;
        else if (taken.insert(names[i]).second)
            local[i] = names[i];
    }
    return local;
}

void TransferJob::addChild(int id, const std::string &url, const std::string &localPath,
    const std::string &name, const ListedEntry *listed, const std::string *localName)
{
    if (!isSafePathComponent(name)) {
        if (name != "." && name != "..")
            status("Skipping the unsafe name \"" + shownName(name) + "\"");
        return;
    }
    if (m_timing.treeBounds && !m_timing.treeBounds->admitsChildOf(id)) {
        status("Not queueing \"" + name + "\": more than "
            + std::to_string(m_timing.treeBounds->maxFolderDepth())
            + " folder levels below the queued folder");
        return;
    }
    const std::string childUrl = withoutTrailingSeparators(url) + "/" + childUrlName(name);
    const std::string childPath =
        withoutTrailingSeparators(localPath) + "/" + (localName ? *localName : name);
    const int newId = listed
        ? m_queue->addListedItem(childUrl, childPath, id, listed->directory, listed->sizeBytes)
        : m_queue->addItem(childUrl, childPath, id, -1, -1, -1, -1);
    if (m_timing.treeBounds)
        m_timing.treeBounds->recordChild(id, newId, name, listed && listed->directory);
    changed(0, newId);
}

void TransferJob::expandRemoteDirectory(int id)
{
    status("Getting listing...");
    changed(0, id);
    const core::QueueItem item = core::snapshotOrVanished(*m_queue, id);
    if (m_timing.treeBounds) {
        const std::string refusal = folderExpansionRefusal(
            *m_timing.treeBounds, id, item.path + item.fileName, [this](std::string &path) {
                if (m_session->currentFolder(path))
                    return true;
                m_session->clearErrorUnlessStopped(); // the queued path stands in
                return false;
            });
        if (!refusal.empty()) {
            status(refusal);
            m_result = core::ItemStatus::StatusFinished;
            changed(1, id);
            return;
        }
    }
    std::vector<net::ListingEntry> listing;
    if (!m_session->list("", listing)) {
        if (stoppedMidway(id))
            return;
        status(m_session->error().text());
        forgetSites();
        m_result = core::ItemStatus::StatusTransferFailed;
        return;
    }
    status("Adding files to the queue...");
    const std::string &url = item.url;
    const std::string &localPath = item.localPath;
    // The folder itself, so that an empty remote folder arrives too.
    std::error_code ignored;
    std::filesystem::create_directories(withoutTrailingSeparators(localPath), ignored);

    struct Entry
    {
        std::string name;
        ListedEntry listed;
        bool told;
    };

    std::vector<Entry> entries;
    for (const net::ListingEntry &listed : listing) {
        // A link's line tells nothing of its target.
        const bool told = listed.typeKnown && !listed.isLink;
        entries.push_back({listed.name, {listed.isDirectory, listed.sizeBytes}, told});
    }
    std::vector<std::string> names;
    for (const Entry &entry : entries)
        names.push_back(entry.name);
    const FileNameConversion conversion =
        m_timing.fileNameConversion ? m_timing.fileNameConversion->load() : FileNameConversion::None;
    const std::vector<std::string> localNames = convertedLocalNames(names, conversion);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        if (localNames[i].empty() && isSafePathComponent(entry.name)) {
            status("Skipping \"" + entry.name + "\": another entry of the folder has its local name");
            continue;
        }
        addChild(id, url, localPath, entry.name, entry.told ? &entry.listed : nullptr, &localNames[i]);
    }
    m_result = core::ItemStatus::StatusFinished;
    changed(1, id);
}

void TransferJob::expandLocalDirectory(int id, const std::string &localPath)
{
    const std::string url = core::snapshotOrVanished(*m_queue, id).url;
    std::error_code error;
    for (std::filesystem::directory_iterator it(localPath, error), end; !error && it != end;
         it.increment(error))
        addChild(id, url, localPath, it->path().filename().string());
    changed(1, id);
    m_result = core::ItemStatus::StatusFinished;
}

} // namespace bw::engine
