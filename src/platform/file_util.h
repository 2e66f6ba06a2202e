// SPDX-License-Identifier: MIT
// src/platform (bw_platform): operating-system services: events, thread ids, clocks, socket error
// numbers, fd ownership, safe file writes. May use the C++ library and POSIX only.
//
// File-system services the engine needs beyond <cstdio>: safe replacement of saved files, exclusive
// temporary files, and facts about where a file lies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace bw::platform {

// Writes a file so that it is never left half-written: the writer fills a temporary file in the same
// folder, which is flushed, synced and renamed over `path`. When the writer returns false or anything
// fails, the temporary file is removed and the old file stays as it was. The new file gets `mode`.
bool writeFileAtomically(
    const std::filesystem::path &path, const std::function<bool(std::FILE *)> &writer, unsigned mode = 0600);

// Creates an empty file exclusively in the temporary folder, named with `prefix` and a unique tail.
// Returns its path, or an empty path on failure.
std::filesystem::path createTempFile(const std::string &prefix = "ftp");

// True when the file or folder lies on an optical disc file system (ISO 9660 or UDF).
bool isOnOpticalFileSystem(const std::filesystem::path &path);

// The size of a file in bytes, or -1 when it does not exist or is not a regular file.
std::int64_t fileSize(const std::filesystem::path &path);

// An absolute, lexically normal form of `path` against the current working directory.
std::filesystem::path absolutePath(const std::filesystem::path &path);

} // namespace bw::platform
