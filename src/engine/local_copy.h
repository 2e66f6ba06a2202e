// SPDX-License-Identifier: MIT
// How a local file compares with the remote file it is a copy of, before a resumed download: a resume
// appends from the local length, which is only sound while the local file is shorter than the remote.
#pragma once

#include <cstdint>
#include <string>

namespace bw::engine {

enum class LocalCopy
{
    Partial, // shorter than the remote file (or absent): resume from its length
    Complete, // as long as the remote file: nothing to fetch
    Longer, // longer than the remote file: not a copy of it, leave it alone
};

// Compares the local file's length with `remoteSizeBytes`; a remote size below 1 is unknown and gives
// Partial, so the transfer runs as before.
LocalCopy compareLocalCopy(const std::string &localPath, std::int64_t remoteSizeBytes);

// The status line for a local file longer than the remote one.
std::string localCopyLongerText(
    const std::string &localPath, std::int64_t localBytes, std::int64_t remoteBytes);

} // namespace bw::engine
