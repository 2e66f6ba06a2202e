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
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool isHighSurrogate(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(unsigned unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

constexpr unsigned kReplacementCharacter = 0xFFFD;

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

// The UTF-16 unit of the "\x" escape whose "x" is at `x` (up to four hexadecimal digits); `end` is the
// index of its last digit.
unsigned readHexEscape(const std::string &raw, std::size_t x, std::size_t &end)
{
    unsigned value = 0;
    end = x;
    while (end - x < 4 && end + 1 < raw.size() && hexValue(raw[end + 1]) >= 0)
        value = value * 16 + static_cast<unsigned>(hexValue(raw[++end]));
    return value;
}

// Decodes the "\x" escape at `x` and returns the index of its last byte. An emoji is written as two
// escapes, a surrogate pair; they make one character. A surrogate without its partner cannot be
// written as UTF-8 and becomes U+FFFD.
std::size_t appendHexEscape(std::string &out, const std::string &raw, std::size_t x)
{
    std::size_t end = x;
    const unsigned unit = readHexEscape(raw, x, end);
    if (isHighSurrogate(unit) && end + 2 < raw.size() && raw[end + 1] == '\\' && raw[end + 2] == 'x') {
        std::size_t lowEnd = end;
        const unsigned low = readHexEscape(raw, end + 2, lowEnd);
        if (isLowSurrogate(low)) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            return lowEnd;
        }
    }
    appendUtf8(out, isHighSurrogate(unit) || isLowSurrogate(unit) ? kReplacementCharacter : unit);
    return end;
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
            case 'x':
                i = appendHexEscape(out, raw, i);
                break;
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

std::string escapeIniValue(const std::string &value)
{
    static constexpr char kHexDigits[] = "0123456789abcdef";
    constexpr std::string_view kStringWrapper = "@String(";
    // Reading removes one such wrapper: a value that looks like one gets another around it.
    const bool wrap = value.starts_with(kStringWrapper) && value.ends_with(')');
    const std::string text = wrap ? std::string(kStringWrapper) + value + ")" : value;
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
        case '"':
            out += '\\';
            out += c;
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                // Four digits, so that a hexadecimal digit after it is not read as part of it.
                out += "\\x00";
                out += kHexDigits[(c >> 4) & 0xF];
                out += kHexDigits[c & 0xF];
            } else {
                out += c; // UTF-8 is written as it is
            }
        }
    }
    // Blanks at either end would be trimmed away, and separators read as a list, unless quoted.
    if (!out.empty()
        && (out.front() == ' ' || out.back() == ' ' || out.find_first_of(",;=") != std::string::npos))
        out = '"' + out + '"';
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

std::string IniSettingsStore::toText() const
{
    // Names are written as they are: one that would not read back is left out.
    const auto writableGroup = [](const std::string &name) {
        return name.find('\n') == std::string::npos && trim(name) == name;
    };
    const auto writableKey = [&](const std::string &name) {
        return writableGroup(name) && name.find('=') == std::string::npos && !name.starts_with(';')
            && !name.starts_with('#');
    };
    std::string out;
    const std::string *group = nullptr;
    for (const auto &[name, value] : m_values) {
        const auto &[groupName, key] = name;
        if (!writableGroup(groupName) || !writableKey(key))
            continue;
        if (!group || *group != groupName) {
            out += (group ? "\n[" : "[") + groupName + "]\n";
            group = &groupName;
        }
        std::string escaped = escapeIniValue(value);
        // A key starting with "[" and a value ending with "]" would read back as a group header.
        if (key.starts_with('[') && (escaped.empty() || escaped.front() != '"'))
            escaped = '"' + escaped + '"';
        out += key + "=" + escaped + "\n";
    }
    return out;
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
