// SPDX-License-Identifier: MIT
// Where the engine's persistent settings live: integers and strings by group and key. The window
// supplies one on QSettings, the command-line runner one that reads the same file, tests one in memory.
// Callers serialise their own access; implementations need not be thread-safe.
#pragma once

#include <string>

namespace bw::engine {

class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // The stored value, or `defaultValue` when the key is absent (or, for integers, not a number).
    virtual int readInt(const std::string &group, const std::string &key, int defaultValue) const = 0;
    virtual std::string readString(
        const std::string &group, const std::string &key, const std::string &defaultValue) const = 0;
    virtual void writeInt(const std::string &group, const std::string &key, int value) = 0;
    virtual void writeString(const std::string &group, const std::string &key, const std::string &value) = 0;
};

} // namespace bw::engine
