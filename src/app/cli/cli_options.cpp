// SPDX-License-Identifier: MIT
#include "cli_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "net/proxy_route.h"

namespace bw::cli {

namespace {

std::optional<int> toInt(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

// What ssh-keygen -l prints: "SHA256:" and the unpadded base64 of the hash.
bool isSha256Fingerprint(const std::string &text)
{
    constexpr std::string_view prefix = "SHA256:";
    if (!text.starts_with(prefix) || text.size() == prefix.size())
        return false;
    return std::all_of(text.begin() + prefix.size(), text.end(),
        [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '/' || c == '='; });
}

} // namespace

const char *usageText()
{
    return "usage: bellwick-cli [--queue FILE] [--dir DIR] [--max-threads N] [--per-site N]\n"
           "                    [--retry-time S] [--timeout S] [--max-speed KBPS] [--min-speed KBPS]\n"
           "                    [--passive|--active] [--long-paths] [--tries N] [--keep-running] "
           "[--insecure]\n"
           "                    [--trust-host-key SHA256:...] [--if-exists rename|overwrite|skip]\n"
           "                    [--segments N] [--proxy URL] [--noproxy LIST] [--verbose] [--quiet]\n"
           "                    [[--checksum ALG=HEX] URL ...]\n"
           "\n"
           "Runs the Bellwick transfer queue without a window, with the settings of\n"
           "~/.config/Tolvenby/Bellwick.conf; the options override them for this run only.\n"
           "\n"
           "  --queue FILE      load FILE (created empty when missing) and save it on the way out\n"
           "  --dir DIR         download into DIR (default: the download folder of the\n"
           "                    settings when \"Use download path\" is on, else the\n"
           "                    current directory; the last line below names it)\n"
           "  --max-threads N   most transfers at once (at most 32)\n"
           "  --per-site N      most transfers on one site (0: no limit)\n"
           "  --retry-time S    seconds a site rests after an item there failed\n"
           "  --timeout S       connection time-out in seconds\n"
           "  --max-speed KBPS  most kB/s all transfers move together (0: no limit)\n"
           "  --min-speed KBPS  end a transfer slower than KBPS kB/s for the time-out\n"
           "                    and resume it later (0: no minimum); 1 kB = 1000 bytes\n"
           "  --passive         passive FTP data connections for the URLs given here\n"
           "                    (the default of new settings)\n"
           "  --active          active FTP data connections for the URLs given here\n"
           "  --long-paths      keep host and remote folders below DIR\n"
           "  --tries N         give up on an item after N attempts (default: its retry count)\n"
           "  --keep-running    keep retrying until every item has finished\n"
           "  --insecure        accept any TLS certificate in this run (https, ftps, ftpes)\n"
           "  --trust-host-key SHA256:...\n"
           "                    accept the SSH host key with this fingerprint in this run\n"
           "                    (sftp) although ~/.ssh/known_hosts lacks it\n"
           "  --if-exists RULE  when a download's local name is another file: rename (save\n"
           "                    as NAME (1).EXT), overwrite (replace it once the download is\n"
           "                    complete) or skip (leave it and end the item)\n"
           "  --segments N      fetch a big file on up to N connections at once, within\n"
           "                    --per-site (1: one connection)\n"
           "  --checksum ALG=HEX  the file of the URL that follows must have this checksum\n"
           "                    (sha256=, sha512=, sha1= or md5=); checked as it is written\n"
           "  --proxy URL       go through this proxy in this run: http://[USER:PASS@]HOST:PORT,\n"
           "                    socks5h://... (the proxy resolves names) or socks5://...;\n"
           "                    \"\" for none. Never a direct connection when it fails\n"
           "  --noproxy LIST    reach these servers without the proxy: names (and the names\n"
           "                    below them), addresses, CIDR ranges, :PORT, or *\n"
           "  --verbose         show commands, replies and steps of every transfer\n"
           "  -q, --quiet       print no progress and no line per saved file\n"
           "  -h, --help        show this text\n"
           "  --version         show the version\n"
           "\n"
           "On a terminal, the transfers in progress are shown with their estimated time\n"
           "left. Each saved file is reported on standard output with its size and\n"
           "average speed; what did not finish is reported on standard error.\n"
           "A URL may start with {N} to take the settings of queue item N.\n"
           "An unknown or changed SSH host key is never asked about: the run ends at once.\n"
           "Exit status: 0 every item finished, 1 some did not, 2 bad usage or URL,\n"
           "3 a server's host key was refused, 130/143 stopped by SIGINT/SIGTERM.\n";
}

std::string downloadFolderLine(
    bool useDownloadPath, const std::string &downloadPath, const std::string &currentDirectory)
{
    if (useDownloadPath && !downloadPath.empty())
        return "Without --dir, downloads go to " + downloadPath + " (the settings' download folder).\n";
    return "Without --dir, downloads go to the current directory, " + currentDirectory + ".\n";
}

std::string versionText()
{
    return std::string("bellwick-cli ") + BW_VERSION;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string> &args)
{
    ParsedCommandLine parsed;
    CliOptions &o = parsed.options;
    std::optional<core::Checksum> checksum; // a --checksum waiting for its URL
    auto addUrl = [&](const std::string &url) {
        if (checksum)
            o.checksums[o.urls.size()] = *checksum;
        checksum.reset();
        o.urls.push_back(url);
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto value = [&](const char *name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                parsed.error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        auto number = [&](const char *name, std::optional<int> &target) {
            const auto text = value(name);
            if (!text)
                return;
            target = toInt(*text);
            if (!target)
                parsed.error = std::string(name) + " needs a whole number, not \"" + *text + "\"";
        };
        if (arg == "--queue") {
            o.queueFile = value("--queue");
        } else if (arg == "--dir") {
            o.directory = value("--dir");
        } else if (arg == "--max-threads") {
            number("--max-threads", o.maxThreads);
        } else if (arg == "--per-site") {
            number("--per-site", o.perSite);
        } else if (arg == "--retry-time") {
            number("--retry-time", o.retryTime);
        } else if (arg == "--timeout") {
            number("--timeout", o.timeout);
        } else if (arg == "--max-speed") {
            number("--max-speed", o.maxSpeed);
        } else if (arg == "--min-speed") {
            number("--min-speed", o.minSpeed);
        } else if (arg == "--tries") {
            number("--tries", o.tries);
        } else if (arg == "--segments") {
            number("--segments", o.segments);
            if (o.segments && *o.segments < 1)
                parsed.error = "--segments needs 1 or more, not \"" + std::to_string(*o.segments) + "\"";
        } else if (arg == "--if-exists") {
            if (const auto text = value("--if-exists")) {
                o.ifExists = engine::ifFileExistsFromName(*text);
                if (!o.ifExists)
                    parsed.error = "--if-exists needs rename, overwrite or skip, not \"" + *text + "\"";
            }
        } else if (arg == "--passive") {
            o.passive = true;
        } else if (arg == "--active") {
            o.active = true;
        } else if (arg == "--long-paths") {
            o.longPaths = true;
        } else if (arg == "--keep-running") {
            o.keepRunning = true;
        } else if (arg == "--insecure") {
            o.insecure = true;
        } else if (arg == "--trust-host-key") {
            o.trustedHostKey = value("--trust-host-key");
            if (o.trustedHostKey && !isSha256Fingerprint(*o.trustedHostKey))
                parsed.error =
                    "--trust-host-key needs a fingerprint \"SHA256:...\", not \"" + *o.trustedHostKey + "\"";
        } else if (arg == "--checksum") {
            if (const auto text = value("--checksum")) {
                checksum = core::parseUserChecksum(*text);
                if (!checksum)
                    parsed.error =
                        "--checksum needs sha256=HEX, sha512=HEX, sha1=HEX or md5=HEX, not \"" + *text + "\"";
            }
        } else if (arg == "--proxy") {
            o.proxy = value("--proxy");
            if (o.proxy && !o.proxy->empty() && !net::parseProxyUrl(*o.proxy))
                parsed.error =
                    "--proxy needs http://, socks5:// or socks5h:// and a host, not \"" + *o.proxy + "\"";
        } else if (arg == "--noproxy") {
            o.noProxy = value("--noproxy");
        } else if (arg == "--verbose") {
            o.verbose = true;
        } else if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--") {
            std::for_each(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end(), addUrl);
            break;
        } else if (arg.starts_with("-")) {
            parsed.error = "unknown option " + arg;
        } else {
            addUrl(arg);
        }
        if (!parsed.error.empty())
            break;
    }
    if (parsed.error.empty() && checksum)
        parsed.error = "--checksum needs a URL after it";
    return parsed;
}

} // namespace bw::cli
