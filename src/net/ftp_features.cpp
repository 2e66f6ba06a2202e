// SPDX-License-Identifier: MIT
#include "net/ftp_features.h"

#include <algorithm>
#include <cctype>

namespace bw::net {

namespace {

std::string upperCase(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
        [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

} // namespace

FtpFeatures FtpFeatures::fromReply(int code, const std::vector<std::string> &lines)
{
    FtpFeatures features;
    if (code != 211 || lines.size() < 3)
        return features;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        std::string_view line = lines[i];
        // A feature line starts with one space; anything else is no feature of this reply.
        if (line.empty() || line.front() != ' ')
            continue;
        line.remove_prefix(1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        const std::size_t blank = line.find(' ');
        const std::string name = upperCase(line.substr(0, blank));
        if (name.empty())
            continue;
        features.m_features[name] =
            blank == std::string_view::npos ? std::string() : std::string(line.substr(blank + 1));
    }
    return features;
}

bool FtpFeatures::has(std::string_view name) const
{
    return m_features.contains(upperCase(name));
}

std::string FtpFeatures::parameters(std::string_view name) const
{
    const auto found = m_features.find(upperCase(name));
    return found == m_features.end() ? std::string() : found->second;
}

} // namespace bw::net
