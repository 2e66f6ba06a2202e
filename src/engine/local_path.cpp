// SPDX-License-Identifier: MIT
#include "engine/local_path.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "core/url.h"

namespace bw::engine {

namespace {

// Characters that some file systems and shells refuse or misread in a name.
constexpr std::string_view kReplacedCharacters = ": ?!@#$%^&*{}[]()|;<>,~\"'";

std::string trimSlashes(std::string text)
{
    const auto first = text.find_first_not_of('/');
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of('/');
    return text.substr(first, last - first + 1);
}

std::string withoutTrailingSlashes(std::string text)
{
    while (!text.empty() && text.back() == '/')
        text.pop_back();
    return text;
}

// "." and ".." taken from a URL must not climb out of the download folder.
std::string neutraliseDotComponents(const std::string &relative)
{
    std::string out;
    std::size_t start = 0;
    while (true) {
        const auto slash = relative.find('/', start);
        std::string component =
            relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (component == "." || component == "..")
            component.assign(component.size(), '_');
        out += component;
        if (slash == std::string::npos)
            break;
        out += '/';
        start = slash + 1;
    }
    return out;
}

} // namespace

FileNameConversion fileNameConversionFromIndex(int index)
{
    switch (index) {
    case 1:
        return FileNameConversion::Uppercase;
    case 2:
        return FileNameConversion::Lowercase;
    default:
        return FileNameConversion::None;
    }
}

std::string convertFileName(const std::string &name, FileNameConversion conversion)
{
    std::string out = name;
    for (char &c : out) {
        if (conversion == FileNameConversion::Uppercase && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (conversion == FileNameConversion::Lowercase && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string buildLocalPath(
    const LocalPathOptions &options, const std::string &urlText, const std::optional<std::string> &directory)
{
    core::Url url;
    core::parseUrl(urlText, url);
    std::string path = url.path;
    for (char &c : path) {
        if (c == '\\')
            c = '/';
    }
    path = trimSlashes(path);
    // "sftp://host/~/d/" starts at the login folder: the "~" is the server's, never a local folder.
    if (core::isSftpScheme(url.scheme) && (path == "~" || path.starts_with("~/")))
        path.erase(0, std::min<std::size_t>(path.size(), 2));

    if (url.scheme == core::SchemeLocal) {
        // The local file itself; it stays absolute.
        std::string fileName = url.fileName;
        for (char &c : fileName) {
            if (c == '\\')
                c = '/';
        }
        fileName.erase(0, std::min(fileName.find_first_not_of('/'), fileName.size()));
        return "/" + path + (path.empty() ? "" : "/") + fileName;
    }

    std::string fileName = convertFileName(url.fileName, options.fileNameConversion);
    // A decoded "%2F" belongs to the name: "ftp://h/%2F" must not name the download folder itself.
    std::replace(fileName.begin(), fileName.end(), '/', '_');
    std::string relative = options.longLocalPaths ? url.host + "/" + path + "/" + fileName : fileName;
    for (char &c : relative) {
        // A NUL byte (a raw one can come from a queue file) would end the name early for the file
        // system: "..<NUL>" would climb out of the folder.
        if (c == '\0' || kReplacedCharacters.find(c) != std::string_view::npos)
            c = '_';
    }
    relative = neutraliseDotComponents(relative);

    std::string base;
    if (options.useDownloadPath)
        base = options.downloadPath;
    else if (directory)
        base = *directory;
    else
        base = options.localFolder;
    if (base.empty())
        return relative;
    return withoutTrailingSlashes(base) + "/" + relative;
}

void createLocalDirectories(const std::string &localPath)
{
    // The files of a tree share their folder: once it exists, one look saves a failing mkdir per level.
    std::error_code error;
    if (const auto slash = localPath.rfind('/'); slash != std::string::npos && slash > 0
        && std::filesystem::is_directory(localPath.substr(0, slash), error))
        return;
    // Every folder named before a separator; the last component is the file and is not created.
    for (std::size_t slash = localPath.find('/', 1); slash != std::string::npos;
         slash = localPath.find('/', slash + 1)) {
        std::error_code ignored;
        std::filesystem::create_directory(localPath.substr(0, slash), ignored);
    }
}

std::string httpLocalFile(const std::string &localPath, const std::string &fileName)
{
    std::error_code ignored;
    const bool folder = localPath.ends_with('/') || std::filesystem::is_directory(localPath, ignored);
    if (!folder)
        return localPath;
    const std::string name = isSafePathComponent(fileName) ? fileName : "index.html";
    return withoutTrailingSlashes(localPath) + "/" + name;
}

bool isSafePathComponent(const std::string &name)
{
    // A control character has no place in a file name: NUL would end it early for the file system
    // ("x<NUL>y" is "x", so two entries could share a file), the others only confuse the user.
    const bool control = std::any_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
    return !name.empty() && name != "." && name != ".." && !control && name.find('/') == std::string::npos
        && name.find('\\') == std::string::npos;
}

} // namespace bw::engine
