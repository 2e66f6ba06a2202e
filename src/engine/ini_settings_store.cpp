// SPDX-License-Identifier: MIT
#include "engine/ini_settings_store.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace bw::engine {

namespace {

std::string trim(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

void appendUtf8(std::string &out, unsigned codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string unescapeIniValue(const std::string &raw)
{
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') // quotes only protect separators inside the value
            continue;
        if (c == '\\' && i + 1 < raw.size()) {
            const char next = raw[++i];
            switch (next) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '0':
                out += '\0';
                break;
            case 'x': {
                unsigned value = 0;
                std::size_t digits = 0;
                while (digits < 4 && i + 1 < raw.size() && hexValue(raw[i + 1]) >= 0) {
                    value = value * 16 + static_cast<unsigned>(hexValue(raw[++i]));
                    ++digits;
                }
                appendUtf8(out, value);
                break;
            }
            default:
                out += next;
                break;
            }
            continue;
        }
        out += c;
    }
    constexpr std::string_view kStringWrapper = "@String(";
    if (out.starts_with(kStringWrapper) && out.ends_with(')'))
        return out.substr(kStringWrapper.size(), out.size() - kStringWrapper.size() - 1);
    return out;
}

IniSettingsStore::IniSettingsStore(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return;
    std::ostringstream text;
    text << in.rdbuf();
    parse(text.str());
}

IniSettingsStore IniSettingsStore::fromText(const std::string &text)
{
    IniSettingsStore store;
    store.parse(text);
    return store;
}

std::filesystem::path IniSettingsStore::defaultPath()
{
    if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::filesystem::path(config) / "Tolvenby" / "Bellwick.conf";
    const char *home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "") / ".config" / "Tolvenby" / "Bellwick.conf";
}

void IniSettingsStore::parse(const std::string &text)
{
    std::istringstream lines(text);
    std::string group = "General";
    std::string line;
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            group = trim(line.substr(1, line.size() - 2));
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        m_values[{group, trim(line.substr(0, equals))}] = unescapeIniValue(trim(line.substr(equals + 1)));
    }
}

int IniSettingsStore::readInt(const std::string &group, const std::string &key, int defaultValue) const
{
    const auto it = m_values.find({group, key});
    if (it == m_values.end())
        return defaultValue;
    const std::string &value = it->second;
    if (value == "true")
        return 1;
    if (value == "false")
        return 0;
    char *end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    return end == value.c_str() ? defaultValue : static_cast<int>(number);
}

std::string IniSettingsStore::readString(
    const std::string &group, const std::string &key, const std::string &defaultValue) const
{
    const auto it = m_values.find({group, key});
    return it == m_values.end() ? defaultValue : it->second;
}

void IniSettingsStore::writeInt(const std::string &group, const std::string &key, int value)
{
    m_values[{group, key}] = std::to_string(value);
}

void IniSettingsStore::writeString(const std::string &group, const std::string &key, const std::string &value)
{
    m_values[{group, key}] = value;
}

} // namespace bw::engine
