// SPDX-License-Identifier: MIT
#include "engine/download_target.h"

#include <filesystem>
#include <system_error>

namespace bw::engine {

namespace fs = std::filesystem;

DownloadTarget::DownloadTarget(std::string path)
    : m_path(std::move(path))
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(m_path, error);
    m_existed = !error && fs::exists(status);
    if (m_existed && fs::is_regular_file(fs::status(m_path, error))) {
        const std::uintmax_t size = fs::file_size(m_path, error);
        m_sizeBytes = error ? 0 : static_cast<std::uint64_t>(size);
    }
}

bool DownloadTarget::restoreAfterFailure() const
{
    std::error_code error;
    if (!m_existed) {
        // Only a regular file can be ours: something else that appeared meanwhile stays.
        if (!fs::is_regular_file(fs::symlink_status(m_path, error)))
            return true;
        fs::remove(m_path, error);
        return !error;
    }
    // A folder or a device in the way was never written to.
    if (!fs::is_regular_file(fs::status(m_path, error)))
        return true;
    const std::uintmax_t size = fs::file_size(m_path, error);
    if (error)
        return false;
    // A file that grew was appended to: cut it back. One that could not be opened kept its bytes.
    if (size > m_sizeBytes)
        fs::resize_file(m_path, m_sizeBytes, error);
    return !error;
}

} // namespace bw::engine
