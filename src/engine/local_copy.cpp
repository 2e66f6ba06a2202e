// SPDX-License-Identifier: MIT
#include "engine/local_copy.h"

#include "platform/file_util.h"

namespace bw::engine {

LocalCopy compareLocalCopy(const std::string &localPath, std::int64_t remoteSizeBytes)
{
    if (remoteSizeBytes <= 0)
        return LocalCopy::Partial;
    const std::int64_t localBytes = platform::fileSize(localPath);
    if (localBytes == remoteSizeBytes)
        return LocalCopy::Complete;
    return localBytes > remoteSizeBytes ? LocalCopy::Longer : LocalCopy::Partial;
}

std::string localCopyLongerText(
    const std::string &localPath, std::int64_t localBytes, std::int64_t remoteBytes)
{
    return "Local file " + localPath + " (" + std::to_string(localBytes)
        + " bytes) is longer than the remote file (" + std::to_string(remoteBytes)
        + " bytes); it is left as it is.";
}

} // namespace bw::engine
