// SPDX-License-Identifier: MIT
#include "engine/remote_tree_bounds.h"

namespace bw::engine {

RemoteTreeBounds::RemoteTreeBounds(int maxFolderDepth)
    : m_maxDepth(maxFolderDepth)
{}

bool RemoteTreeBounds::admitsChildOf(std::int32_t parentId) const
{
    std::lock_guard lock{m_mutex};
    const auto parent = m_nodes.find(parentId);
    const int parentDepth = parent == m_nodes.end() ? 0 : parent->second.depth;
    return parentDepth < m_maxDepth;
}

void RemoteTreeBounds::recordChild(
    std::int32_t parentId, std::int32_t childId, const std::string &name, bool plainFolder)
{
    std::lock_guard lock{m_mutex};
    // An item nobody recorded is one the user queued: the root of its tree.
    const Node &parent = m_nodes.try_emplace(parentId, Node{parentId, 0, {}}).first->second;
    Node child{parent.rootId, parent.depth + 1, {}};
    if (plainFolder && !parent.folderPath.empty())
        child.folderPath = normalFolderPath(parent.folderPath + "/" + name);
    m_nodes.insert_or_assign(childId, std::move(child));
}

std::optional<std::string> RemoteTreeBounds::knownFolderPath(
    std::int32_t id, const std::string &queuedPath) const
{
    std::lock_guard lock{m_mutex};
    const auto node = m_nodes.find(id);
    if (node == m_nodes.end() || node->second.depth == 0)
        return normalFolderPath(queuedPath);
    if (node->second.folderPath.empty())
        return std::nullopt;
    return node->second.folderPath;
}

bool RemoteTreeBounds::enterFolder(std::int32_t id, const std::string &folderPath)
{
    const std::string path = normalFolderPath(folderPath);
    std::lock_guard lock{m_mutex};
    Node &node = m_nodes.try_emplace(id, Node{id, 0, {}}).first->second;
    node.folderPath = path;
    // The same item may come back (a retry after a failed listing): only another item is a second visit.
    const auto [entry, added] = m_expanded[node.rootId].try_emplace(path, id);
    return added || entry->second == id;
}

std::string RemoteTreeBounds::normalFolderPath(const std::string &path)
{
    std::string out;
    for (const char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::string folderExpansionRefusal(RemoteTreeBounds &bounds, std::int32_t id, const std::string &queuedPath,
    const std::function<bool(std::string &)> &currentFolder)
{
    std::optional<std::string> path = bounds.knownFolderPath(id, queuedPath);
    if (!path) {
        // Reached through a link or a listing that does not tell: the server says where we are.
        std::string said;
        path = currentFolder(said) && !said.empty() ? said : queuedPath;
    }
    if (bounds.enterFolder(id, *path))
        return {};
    return "Skipping the folder " + *path
        + ": it was fetched already in this tree (a link leads back into it)";
}

} // namespace bw::engine
