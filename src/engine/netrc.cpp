// SPDX-License-Identifier: MIT
#include "engine/netrc.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/url.h"
#include "platform/unique_fd.h"

namespace bw::engine {

namespace {

// Larger than any real .netrc; a bigger file is not read whole.
constexpr std::size_t kMaxNetrcBytes = 1024 * 1024;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The tokens of one line; a "#" at the start of a token ends the line. A quoted token ends at its
// closing quote or at the end of the line.
std::vector<std::string> lineTokens(std::string_view line)
{
    std::vector<std::string> tokens;
    std::size_t at = 0;
    while (true) {
        while (at < line.size() && isBlank(line[at]))
            ++at;
        if (at >= line.size() || line[at] == '#')
            return tokens;
        std::string token;
        if (line[at] == '"') {
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                char c = line[at];
                if (c == '\\' && at + 1 < line.size()) {
                    c = line[++at];
                    c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
                }
                token += c;
            }
            at += at < line.size() ? 1 : 0; // the closing quote, unless the line ended first
        } else {
            while (at < line.size() && !isBlank(line[at]))
                token += line[at++];
        }
        tokens.push_back(std::move(token));
    }
}

} // namespace

std::vector<NetrcEntry> parseNetrc(std::string_view text)
{
    std::vector<NetrcEntry> entries;
    bool inMacro = false;
    std::string pendingKeyword; // a keyword whose value is on a later line
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(from, end - from);
        from = end + 1;
        if (inMacro) {
            // A macro's body runs up to the first blank line.
            inMacro = std::any_of(line.begin(), line.end(), [](char c) { return !isBlank(c); });
            continue;
        }
        const std::vector<std::string> tokens = lineTokens(line);
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            const std::string &token = tokens[i];
            if (!pendingKeyword.empty()) {
                const std::string keyword = std::exchange(pendingKeyword, {});
                if (keyword == "machine")
                    entries.push_back(NetrcEntry{token, false, {}, {}});
                else if (entries.empty())
                    continue; // a login before any machine belongs to nobody
                else if (keyword == "login")
                    entries.back().login = token;
                else if (keyword == "password")
                    entries.back().password = token;
                continue;
            }
            if (token == "default") {
                entries.push_back(NetrcEntry{{}, true, {}, {}});
            } else if (token == "macdef") {
                inMacro = true;
                break; // its name and the rest of the line belong to it
            } else if (token == "machine" || token == "login" || token == "password" || token == "account") {
                pendingKeyword = token;
            }
        }
    }
    return entries;
}

const NetrcEntry *findNetrcEntry(
    const std::vector<NetrcEntry> &entries, std::string_view host, std::string_view login, bool allowDefault)
{
    for (const NetrcEntry &entry : entries) {
        const bool forHost = entry.isDefault ? allowDefault : equalsIgnoringCase(entry.machine, host);
        if (forHost && (login.empty() || entry.login == login))
            return &entry;
    }
    return nullptr;
}

NetrcFile loadNetrc(const std::string &path)
{
    NetrcFile file;
    if (path.empty())
        return file;
    const platform::UniqueFd fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (!fd.isOpen())
        return file; // no .netrc: nothing to say

    struct stat info
    {};

    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        file.warning = path + " is not a regular file; it is ignored";
        return file;
    }
    // Passwords that others can read are as good as published: like ftp, refuse to use them.
    if ((info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        file.warning = path + " can be read by other users; it is ignored (chmod 600 " + path + ")";
        return file;
    }
    std::string text;
    char buffer[4096];
    while (text.size() < kMaxNetrcBytes) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    file.entries = parseNetrc(text);
    return file;
}

std::string defaultNetrcPath()
{
    const char *home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.netrc" : std::string();
}

SiteLogin siteLogin(const std::string &path, const std::string &host, const std::string &user,
    const std::string &password, bool allowDefault)
{
    SiteLogin login{user, password, false, {}};
    if (password != core::kDefaultAnonymousPassword)
        return login; // the URL's own login
    const bool noUser = user == core::kAnonymousUser;
    NetrcFile file = loadNetrc(path);
    login.warning = std::move(file.warning);
    if (const NetrcEntry *entry = findNetrcEntry(file.entries, host, noUser ? "" : user, allowDefault)) {
        login.user = noUser && !entry->login.empty() ? entry->login : user;
        login.password = entry->password;
        login.fromNetrc = true;
    }
    return login;
}

} // namespace bw::engine
