// SPDX-License-Identifier: MIT
// Bounds on the expansion of a queued folder tree, against a server whose folders never end (a link
// back into a parent): children are queued at most so many folder levels below the item the user
// queued, and no folder of the server is expanded twice within one queued tree. Shared by every job of
// an engine; any thread may call it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace bw::engine {

class RemoteTreeBounds
{
public:
    static constexpr int kMaxFolderDepth = 32;

    explicit RemoteTreeBounds(int maxFolderDepth = kMaxFolderDepth);

    int maxFolderDepth() const { return m_maxDepth; }

    // True when a child of `parentId` stays within the depth bound.
    bool admitsChildOf(std::int32_t parentId) const;
    // Records a child the job queued under the name `name`. `plainFolder`: the parent's listing showed it
    // as a folder, not a link, so its server path is the parent's path and the name.
    void recordChild(std::int32_t parentId, std::int32_t childId, const std::string &name, bool plainFolder);
    // The server's path of the folder item `id` as far as known: the recorded one, else `queuedPath` for an
    // item the user queued (a tree's root); nullopt when only the server can tell.
    std::optional<std::string> knownFolderPath(std::int32_t id, const std::string &queuedPath) const;
    // Marks the folder at `folderPath` expanded for the tree of `id` (and that path as the item's); false
    // when that tree expanded it before (the server led back into it), so it must not be expanded again.
    bool enterFolder(std::int32_t id, const std::string &folderPath);

    // `/a//b/` and `/a/b` name one folder.
    static std::string normalFolderPath(const std::string &path);

private:
    struct Node
    {
        std::int32_t rootId = 0;
        int depth = 0;
        std::string folderPath; // empty: not known
    };

    const int m_maxDepth;
    mutable std::mutex m_mutex;
    std::map<std::int32_t, Node> m_nodes; // by item id; guarded by m_mutex
    // By root id: each expanded folder's path and the item that expanded it; guarded by m_mutex.
    std::map<std::int32_t, std::map<std::string, std::int32_t>> m_expanded;
};

// The job's check before it lists the folder item `id`: its server path comes from what is known, else
// from `currentFolder` (the server's answer to PWD inside it), else from `queuedPath`. Empty when the
// folder may be expanded; otherwise the status line saying why not.
std::string folderExpansionRefusal(RemoteTreeBounds &bounds, std::int32_t id, const std::string &queuedPath,
    const std::function<bool(std::string &)> &currentFolder);

} // namespace bw::engine
