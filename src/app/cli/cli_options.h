// SPDX-License-Identifier: MIT
// The command line of bellwick-cli: switches that override the settings for one run, and the URLs.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/checksum.h"
#include "engine/part_file.h"

namespace bw::cli {

struct CliOptions
{
    std::optional<std::string> queueFile;
    std::optional<std::string> directory;
    std::optional<int> maxThreads;
    std::optional<int> perSite;
    std::optional<int> retryTime;
    std::optional<int> timeout;
    std::optional<int> maxSpeed; // kB/s for all transfers together, 0: no limit
    std::optional<int> minSpeed; // kB/s, 0: no minimum
    bool passive = false;
    bool active = false; // active FTP data connections for the URLs given, against passive settings
    bool longPaths = false;
    std::optional<int> tries;
    std::optional<int> segments; // connections for one big download, 1 or more
    std::optional<engine::IfFileExists> ifExists; // a local file of a download's name that is no copy
    bool keepRunning = false;
    bool verbose = false;
    bool quiet = false;
    bool insecure = false; // accept any TLS certificate for this run
    std::optional<std::string> trustedHostKey; // "SHA256:...": the one SSH host key accepted for this run
    bool help = false;
    bool version = false;
    std::vector<std::string> urls;
    std::map<std::size_t, core::Checksum> checksums; // --checksum: the expected value of urls[index]
    std::optional<std::string> proxy; // a proxy URL for this run, "" for none
    std::optional<std::string> noProxy; // servers reached without the proxy, as no_proxy lists them
};

struct ParsedCommandLine
{
    CliOptions options;
    std::string error; // empty when the command line was understood
};

ParsedCommandLine parseCommandLine(const std::vector<std::string> &args);
const char *usageText();
// The last line of --help: where a download goes when no --dir is given.
std::string downloadFolderLine(
    bool useDownloadPath, const std::string &downloadPath, const std::string &currentDirectory);
// "bellwick-cli 5.0.13"
std::string versionText();

} // namespace bw::cli
