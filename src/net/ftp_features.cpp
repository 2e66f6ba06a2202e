// SPDX-License-Identifier: MIT
#include "net/ftp_features.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace bw::net {

namespace {

std::string upperCase(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
        [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

// The blank-separated words of `text`.
std::vector<std::string_view> words(std::string_view text)
{
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(text.find(' ', start), text.size());
        found.push_back(text.substr(start, end - start));
        at = end;
    }
    return found;
}

bool parseNumber(std::string_view text, std::int64_t &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

// The reply's code and the text after it, for a final line "NNN text".
bool splitReply(std::string_view line, int wantedCode, std::string_view &text)
{
    if (line.size() < 4 || line[3] != ' ' || line.substr(0, 3) != std::to_string(wantedCode))
        return false;
    text = line.substr(4);
    return true;
}

struct HashName
{
    core::ChecksumAlgorithm algorithm;
    std::string_view hashName; // in HASH and OPTS HASH
    std::string_view xCommand; // the older command, empty for none
};

// In order of preference.
constexpr std::array<HashName, 4> kHashNames{{
    {core::ChecksumAlgorithm::Sha256, "SHA-256", "XSHA256"},
    {core::ChecksumAlgorithm::Sha512, "SHA-512", ""},
    {core::ChecksumAlgorithm::Sha1, "SHA-1", "XSHA1"},
    {core::ChecksumAlgorithm::Md5, "MD5", "XMD5"},
}};

} // namespace

FtpFeatures FtpFeatures::parse(const std::vector<std::string> &replyLines)
{
    FtpFeatures features;
    // RFC 2389 3.2: each feature line starts with a space; the first and last lines carry the code.
    for (const std::string &line : replyLines) {
        if (line.empty() || line.front() != ' ')
            continue;
        const std::vector<std::string_view> parts = words(line);
        if (parts.empty())
            continue;
        const std::size_t nameEnd = line.find(parts.front()) + parts.front().size();
        std::string_view rest = std::string_view(line).substr(nameEnd);
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r'))
            rest.remove_suffix(1);
        features.m_features.emplace_back(upperCase(parts.front()), std::string(rest));
    }
    return features;
}

bool FtpFeatures::has(std::string_view name) const
{
    const std::string wanted = upperCase(name);
    return std::any_of(
        m_features.begin(), m_features.end(), [&](const auto &feature) { return feature.first == wanted; });
}

std::string FtpFeatures::arguments(std::string_view name) const
{
    const std::string wanted = upperCase(name);
    for (const auto &[featureName, arguments] : m_features) {
        if (featureName == wanted)
            return arguments;
    }
    return {};
}

std::optional<FtpHashCommand> chooseHashCommand(const FtpFeatures &features)
{
    if (features.has("HASH")) {
        // "HASH SHA-1*;SHA-256;MD5": the starred one is the server's current algorithm.
        const std::string listed = upperCase(features.arguments("HASH"));
        std::vector<std::string> names;
        std::string current;
        std::size_t at = 0;
        while (at <= listed.size()) {
            const std::size_t end = std::min(listed.find(';', at), listed.size());
            std::string name = listed.substr(at, end - at);
            if (!name.empty() && name.back() == '*') {
                name.pop_back();
                current = name;
            }
            if (!name.empty())
                names.push_back(name);
            at = end + 1;
        }
        for (const HashName &hash : kHashNames) {
            if (std::find(names.begin(), names.end(), hash.hashName) != names.end())
                return FtpHashCommand{"HASH", hash.algorithm, std::string(hash.hashName) != current};
        }
    }
    for (const HashName &hash : kHashNames) {
        if (!hash.xCommand.empty() && features.has(hash.xCommand))
            return FtpHashCommand{std::string(hash.xCommand), hash.algorithm, false};
    }
    return std::nullopt;
}

std::optional<core::Checksum> parseHashReply(
    std::string_view line, core::ChecksumAlgorithm algorithm, std::int64_t firstByte, std::int64_t endByte)
{
    std::string_view text;
    if (!splitReply(line, 213, text))
        return std::nullopt;
    const std::vector<std::string_view> parts = words(text);
    if (parts.size() < 3 || upperCase(parts[0]) != core::checksumAlgorithmName(algorithm))
        return std::nullopt;
    const std::size_t dash = parts[1].find('-');
    std::int64_t first = 0;
    std::int64_t end = 0;
    if (dash == std::string_view::npos || !parseNumber(parts[1].substr(0, dash), first)
        || !parseNumber(parts[1].substr(dash + 1), end))
        return std::nullopt;
    // A server that ignored the range hashes something else than the bytes asked for.
    if (first != firstByte || (endByte >= 0 && end != endByte))
        return std::nullopt;
    return core::makeChecksum(algorithm, parts[2]);
}

std::optional<core::Checksum> parseXHashReply(std::string_view line, core::ChecksumAlgorithm algorithm)
{
    std::string_view text;
    if (!splitReply(line, 250, text) && !splitReply(line, 213, text))
        return std::nullopt;
    for (const std::string_view word : words(text)) {
        if (std::optional<core::Checksum> checksum = core::makeChecksum(algorithm, word))
            return checksum;
    }
    return std::nullopt;
}

} // namespace bw::net
