// SPDX-License-Identifier: MIT
// Logins kept in ~/.netrc, read as curl reads them: "machine", "default", "login", "password",
// "account" and "macdef" (skipped up to its blank line), values optionally in double quotes with "\"
// escapes, "#" starting a comment. Pure functions apart from loadNetrc; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bw::engine {

struct NetrcEntry
{
    std::string machine; // empty for the default entry
    bool isDefault = false;
    std::string login;
    std::string password;

    bool operator==(const NetrcEntry &) const = default;
};

std::vector<NetrcEntry> parseNetrc(std::string_view text);

// The first entry for `host` (case ignored) whose login is `login` (any login when empty); the default
// entry counts only when `allowDefault`. Null when none fits.
const NetrcEntry *findNetrcEntry(
    const std::vector<NetrcEntry> &entries, std::string_view host, std::string_view login, bool allowDefault);

struct NetrcFile
{
    std::vector<NetrcEntry> entries;
    std::string warning; // why the file was ignored; empty when it was read or is missing
};

// Reads the file at `path`; one that others than its owner may read is ignored with a warning.
NetrcFile loadNetrc(const std::string &path);

// $HOME/.netrc; empty without a home.
std::string defaultNetrcPath();

struct SiteLogin
{
    std::string user;
    std::string password;
    bool fromNetrc = false;
    std::string warning; // a .netrc that was ignored
};

// The login for a URL: its own, unless it names no user (the anonymous defaults) or a user without a
// password, which the .netrc at `path` may then fill in.
SiteLogin siteLogin(const std::string &path, const std::string &host, const std::string &user,
    const std::string &password, bool allowDefault);

} // namespace bw::engine
