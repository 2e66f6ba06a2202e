// SPDX-License-Identifier: MIT
// A SettingsStore held in memory, for tests and for runs that must not touch the user's settings.
#pragma once

#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "engine/settings_store.h"

namespace bw::engine {

class MemorySettingsStore : public SettingsStore
{
public:
    int readInt(const std::string &group, const std::string &key, int defaultValue) const override
    {
        const auto it = m_values.find({group, key});
        if (it == m_values.end())
            return defaultValue;
        char *end = nullptr;
        const long value = std::strtol(it->second.c_str(), &end, 10);
        return end == it->second.c_str() ? defaultValue : static_cast<int>(value);
    }

    std::string readString(
        const std::string &group, const std::string &key, const std::string &defaultValue) const override
    {
        const auto it = m_values.find({group, key});
        return it == m_values.end() ? defaultValue : it->second;
    }

    void writeInt(const std::string &group, const std::string &key, int value) override
    {
        m_values[{group, key}] = std::to_string(value);
    }

    void writeString(const std::string &group, const std::string &key, const std::string &value) override
    {
        m_values[{group, key}] = value;
    }

    bool contains(const std::string &group, const std::string &key) const
    {
        return m_values.count({group, key}) != 0;
    }

    std::size_t size() const { return m_values.size(); }

private:
    std::map<std::pair<std::string, std::string>, std::string> m_values;
};

} // namespace bw::engine
