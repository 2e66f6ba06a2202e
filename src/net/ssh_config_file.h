// SPDX-License-Identifier: MIT
// What an OpenSSH client configuration (~/.ssh/config) says about one host: the settings Bellwick
// honours (HostName, Port, User, IdentityFile). A pure reader: text in, settings out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bw::net {

struct SshHostConfig
{
    std::string hostName; // empty: the name as given
    int port = 0; // 0: not set
    std::string user;
    std::vector<std::string> identityFiles; // in the file's order, "~/" already expanded
};

// The settings for `host` in the configuration `text`: as OpenSSH reads it, the first value of each
// setting wins, and a Host line's patterns (`*`, `?`, `!negated`) select the lines below it. Match
// blocks are skipped. `home` replaces a leading "~" in IdentityFile; %h, %u and %% are expanded.
SshHostConfig readSshHostConfig(std::string_view text, const std::string &host, const std::string &home);

// The same for the file at `path` (nothing when it cannot be read).
SshHostConfig readSshHostConfigFile(
    const std::string &path, const std::string &host, const std::string &home);

// True when `name` matches the OpenSSH pattern `pattern` (`*` any run, `?` one character).
bool matchesSshPattern(std::string_view pattern, std::string_view name);

} // namespace bw::net
