// SPDX-License-Identifier: MIT
// A read-only SettingsStore over the window's settings file (~/.config/Tolvenby/Bellwick.conf, INI
// format: [Group] headers and key=value lines), for programs that run without Qt. Writes are kept in
// memory for the run and never reach the file.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "engine/settings_store.h"

namespace bw::engine {

class IniSettingsStore : public SettingsStore
{
public:
    // An empty store: every read gives its default.
    IniSettingsStore() = default;
    // Reads the file now; a missing or unreadable file gives an empty store.
    explicit IniSettingsStore(const std::filesystem::path &path);

    // Parses INI text: later duplicates win; lines outside a group belong to "General".
    static IniSettingsStore fromText(const std::string &text);
    // "$XDG_CONFIG_HOME/Tolvenby/Bellwick.conf", else "~/.config/Tolvenby/Bellwick.conf".
    static std::filesystem::path defaultPath();

    int readInt(const std::string &group, const std::string &key, int defaultValue) const override;
    std::string readString(
        const std::string &group, const std::string &key, const std::string &defaultValue) const override;
    void writeInt(const std::string &group, const std::string &key, int value) override;
    void writeString(const std::string &group, const std::string &key, const std::string &value) override;

    // The values in the file's format, group by group; reading it back gives the same values.
    std::string toText() const;

private:
    void parse(const std::string &text);

    std::map<std::pair<std::string, std::string>, std::string> m_values;
};

// Undoes the quoting and escapes of a stored value ("a, b" in quotes, \\, \", \n, \t, \xHHHH, @String()).
// "\xHHHH" escapes are UTF-16 units: a surrogate pair makes one character, and a lone surrogate becomes
// U+FFFD, so valid UTF-8 in gives valid UTF-8 out.
std::string unescapeIniValue(const std::string &raw);
// The reverse: escapes what reading would change, quotes what it would trim or split; UTF-8 stays.
std::string escapeIniValue(const std::string &value);

} // namespace bw::engine
