// SPDX-License-Identifier: MIT
#include "net/ssh_config_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace bw::net {

namespace {

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(
        lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower;
}

// Splits a line into words: blanks or one '=' separate the keyword from its values; double quotes
// keep blanks inside a value.
std::vector<std::string> words(std::string_view line)
{
    std::vector<std::string> out;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
            continue;
        }
        const bool separator = !quoted && (c == ' ' || c == '\t' || (c == '=' && out.empty()));
        if (separator) {
            if (inWord)
                out.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        word += c;
        inWord = true;
    }
    if (inWord)
        out.push_back(std::move(word));
    return out;
}

// A Host line selects the host when one pattern matches and no negated one does.
bool hostLineSelects(const std::vector<std::string> &patterns, const std::string &host)
{
    bool matched = false;
    for (std::size_t i = 1; i < patterns.size(); ++i) {
        std::string_view pattern = patterns[i];
        const bool negated = pattern.starts_with('!');
        if (negated)
            pattern.remove_prefix(1);
        if (matchesSshPattern(lowerCase(pattern), lowerCase(host))) {
            if (negated)
                return false;
            matched = true;
        }
    }
    return matched;
}

std::string expandTokens(const std::string &value, const std::string &host, const std::string &user)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char token = value[++i];
        if (token == 'h')
            out += host;
        else if (token == 'u' || token == 'r')
            out += user;
        else if (token == '%')
            out += '%';
        else
            out += std::string{'%', token};
    }
    return out;
}

std::string expandHome(const std::string &path, const std::string &home)
{
    if (path == "~")
        return home;
    if (path.starts_with("~/"))
        return home + path.substr(1);
    return path;
}

} // namespace

bool matchesSshPattern(std::string_view pattern, std::string_view name)
{
    // Iterative glob: remember the last '*' and retry from one character further on a mismatch.
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

SshHostConfig readSshHostConfig(std::string_view text, const std::string &host, const std::string &home)
{
    SshHostConfig config;
    bool selected = true; // lines before the first Host line apply to every host
    bool portSet = false;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> parts = words(line);
        if (parts.empty() || parts[0].starts_with('#'))
            continue;
        const std::string keyword = lowerCase(parts[0]);
        if (keyword == "host") {
            selected = hostLineSelects(parts, host);
            continue;
        }
        if (keyword == "match") {
            selected = false;
            continue;
        }
        if (!selected || parts.size() < 2)
            continue;
        const std::string &value = parts[1];
        if (keyword == "hostname" && config.hostName.empty()) {
            config.hostName = expandTokens(value, host, {});
        } else if (keyword == "port" && !portSet) {
            portSet = true;
            const int port = std::atoi(value.c_str());
            config.port = port > 0 && port < 65536 ? port : 0;
        } else if (keyword == "user" && config.user.empty()) {
            config.user = value;
        } else if (keyword == "identityfile") {
            config.identityFiles.push_back(expandHome(expandTokens(value, host, config.user), home));
        }
    }
    return config;
}

SshHostConfig readSshHostConfigFile(const std::string &path, const std::string &host, const std::string &home)
{
    std::ifstream file(path);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return readSshHostConfig(text.str(), host, home);
}

} // namespace bw::net
