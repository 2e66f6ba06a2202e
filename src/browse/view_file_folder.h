// SPDX-License-Identifier: MIT
// Where View File puts the remote files it opens: a private folder (0700) below the system's temporary
// folder, made on first use and removed with everything in it when the owner goes (when Bellwick ends).
// Each file gets a folder of its own, so the viewer sees the server's file name and two views of the
// same name never share a file. GUI thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

class QTemporaryDir;

namespace bw::browse {

class ViewFileFolder
{
public:
    ViewFileFolder();
    ~ViewFileFolder();
    ViewFileFolder(const ViewFileFolder &) = delete;
    ViewFileFolder &operator=(const ViewFileFolder &) = delete;

    // A new empty file `name` (0600) in a new folder of its own; nothing when `name` is not a plain file
    // name or the file cannot be made.
    std::optional<std::string> newFile(const std::string &name);
    // Takes away a file newFile made and its folder (a view that failed).
    void discard(const std::string &path);

    // The private folder, empty until the first file.
    std::string path() const;

private:
    bool ensureFolder();

    std::unique_ptr<QTemporaryDir> m_folder;
    int m_nextSubfolder = 1;
};

} // namespace bw::browse
