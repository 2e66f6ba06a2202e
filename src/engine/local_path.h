// SPDX-License-Identifier: MIT
// Where a queued download lands on disk, and the folders made for it before the transfer starts.
// Pure functions apart from reading the current directory and creating folders.
#pragma once

#include <optional>
#include <string>

namespace bw::engine {

struct LocalPathOptions
{
    bool useDownloadPath = false;
    std::string downloadPath;
    bool longLocalPaths = false;
};

// The local path of a new queue item for `urlText`: for a local URL the file itself; otherwise the
// file name (or host/path/file name with long local paths) below the download folder, the given
// directory, or the current directory, in that order of preference.
std::string buildLocalPath(const LocalPathOptions &options, const std::string &urlText,
    const std::optional<std::string> &directory = std::nullopt);

// Creates every folder above the file named by `localPath`; existing folders and failures are ignored
// (the transfer reports what then cannot be written).
void createLocalDirectories(const std::string &localPath);

// True when `name`, as a server listed it or a local folder holds it, can be used as exactly one path
// component: not empty, not "." or "..", and without "/" or "\".
bool isSafePathComponent(const std::string &name);

} // namespace bw::engine
