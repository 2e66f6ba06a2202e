// SPDX-License-Identifier: MIT
// Where a queued download lands on disk, and the folders made for it before the transfer starts.
// Pure functions apart from creating folders: the process's working directory plays no part.
#pragma once

#include <optional>
#include <string>

namespace bw::engine {

// The case given to the file name of a new download (stored as these numbers).
enum class FileNameConversion : int
{
    None = 0,
    Uppercase = 1,
    Lowercase = 2,
};

// 1 and 2 are the conversions; anything else is none.
FileNameConversion fileNameConversionFromIndex(int index);

// `name` in the case the conversion asks for; only ASCII letters change, so multi-byte names stay whole.
std::string convertFileName(const std::string &name, FileNameConversion conversion);

struct LocalPathOptions
{
    bool useDownloadPath = false;
    std::string downloadPath;
    bool longLocalPaths = false;
    // The folder the user works in (the local pane's, or the program's start folder).
    std::string localFolder;
    // Applies to the file name only, never to the folders above it.
    FileNameConversion fileNameConversion = FileNameConversion::None;
};

// The local path of a new queue item for `urlText`: for a local URL the file itself; otherwise the
// file name (or host/path/file name with long local paths) below the download folder, the given
// directory, or the options' local folder, in that order of preference. With none of them the path
// stays relative.
std::string buildLocalPath(const LocalPathOptions &options, const std::string &urlText,
    const std::optional<std::string> &directory = std::nullopt);

// Creates every folder above the file named by `localPath`; existing folders and failures are ignored
// (the transfer reports what then cannot be written).
void createLocalDirectories(const std::string &localPath);

// The file an HTTP download writes: `localPath` itself, unless it names a folder (it ends in "/" or is
// an existing directory, as for a URL ending in "/" or a redirect from one); then the URL's last
// component `fileName` inside it, or "index.html" when the URL has none.
std::string httpLocalFile(const std::string &localPath, const std::string &fileName);

// True when `name`, as a server listed it or a local folder holds it, can be used as exactly one path
// component: not empty, not "." or "..", and without "/", "\" or a control character (NUL included).
bool isSafePathComponent(const std::string &name);

} // namespace bw::engine
