// SPDX-License-Identifier: MIT
// Where a download lands: for any URL, the local path of a network download stays inside the folder it
// is built in, as the file system would resolve it, and is never that folder when the URL names a file.
#include <filesystem>

#include "core/url.h"
#include "engine/local_path.h"
#include "fuzz_check.h"

namespace {

// Whether `path`, cut where the file system would cut it (at a NUL byte) and with "." and ".."
// resolved, is `folder` or lies below it.
bool staysInside(const std::string &path, const std::filesystem::path &folder)
{
    const std::filesystem::path resolved =
        std::filesystem::path(path.substr(0, path.find('\0'))).lexically_normal();
    const std::filesystem::path relative = resolved.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw::engine;
    if (size == 0)
        return 0;
    // The first byte picks the options; the rest is the URL.
    const std::string url(bw::fuzz::bytesOf(data + 1, size - 1));
    bw::core::Url parsed;
    bw::core::parseUrl(url, parsed);
    if (parsed.scheme == bw::core::SchemeLocal)
        return 0; // a local URL names the file itself, wherever it is
    LocalPathOptions options;
    options.longLocalPaths = (data[0] & 1) != 0;
    options.useDownloadPath = (data[0] & 2) != 0;
    options.downloadPath = (data[0] & 4) != 0 ? "/home/user/Downloads/" : "/home/user/Downloads";
    const std::string directory = "/srv/incoming";
    const std::string path = buildLocalPath(options, url, directory);
    const std::filesystem::path folder = options.useDownloadPath ? "/home/user/Downloads" : directory;
    BW_FUZZ_CHECK(staysInside(path, folder));
    // A URL that names a file never lands on the folder itself.
    if (!parsed.fileName.empty())
        BW_FUZZ_CHECK(std::filesystem::path(path).lexically_normal() != folder.lexically_normal());
    // An HTTP download into a folder takes one whole name from the URL (or a redirect).
    const std::string file = httpLocalFile("/srv/incoming/", parsed.fileName);
    BW_FUZZ_CHECK(file.find('\0') == std::string::npos);
    BW_FUZZ_CHECK(std::filesystem::path(file).parent_path() == "/srv/incoming");
    return 0;
}
