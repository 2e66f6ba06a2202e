// SPDX-License-Identifier: MIT
// The local file a direct download writes to, as it was before: after a failed download only what the
// transfer added goes (a file it created is removed, bytes it appended are cut off again), so a file
// the user already had keeps its bytes. Any thread; one transfer at a time.
#pragma once

#include <cstdint>
#include <string>

namespace bw::engine {

class DownloadTarget
{
public:
    // Notes whether `path` exists and its length; call before the transfer opens it.
    explicit DownloadTarget(std::string path);

    // Undoes what the failed transfer left. False when that did not work (the file stays as it is).
    bool restoreAfterFailure() const;

    bool existed() const { return m_existed; }

    std::uint64_t originalSizeBytes() const { return m_sizeBytes; }

private:
    std::string m_path;
    bool m_existed = false;
    std::uint64_t m_sizeBytes = 0;
};

} // namespace bw::engine
