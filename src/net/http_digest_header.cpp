// SPDX-License-Identifier: MIT
#include "net/http_digest_header.h"

#include <array>
#include <cctype>
#include <vector>

#include <openssl/evp.h>

namespace bw::net {

namespace {

struct DigestName
{
    std::string_view name; // lower case
    core::ChecksumAlgorithm algorithm;
};

// In order of preference.
constexpr std::array<DigestName, 2> kReprNames{{
    {"sha-256", core::ChecksumAlgorithm::Sha256},
    {"sha-512", core::ChecksumAlgorithm::Sha512},
}};

constexpr std::array<DigestName, 4> kLegacyNames{{
    {"sha-256", core::ChecksumAlgorithm::Sha256},
    {"sha-512", core::ChecksumAlgorithm::Sha512},
    {"sha", core::ChecksumAlgorithm::Sha1},
    {"md5", core::ChecksumAlgorithm::Md5},
}};

// `text` without the blanks and tabs around it.
std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// The members of a comma-separated list as name and value ("name=value"), blanks trimmed.
std::vector<std::pair<std::string, std::string_view>> members(std::string_view value)
{
    std::vector<std::pair<std::string, std::string_view>> found;
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        const std::string_view member = trimmed(value.substr(0, comma));
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        const std::size_t equals = member.find('=');
        if (equals == std::string_view::npos)
            continue;
        found.emplace_back(lowerCase(trimmed(member.substr(0, equals))), trimmed(member.substr(equals + 1)));
    }
    return found;
}

// Standard base64 of exactly the algorithm's digest length, as hex.
std::optional<core::Checksum> fromBase64(core::ChecksumAlgorithm algorithm, std::string_view base64)
{
    const int bytes = core::checksumDigestBytes(algorithm);
    // Base64 of N bytes is 4 * ceil(N / 3) characters with padding.
    if (bytes == 0 || base64.size() != static_cast<std::size_t>((bytes + 2) / 3 * 4))
        return std::nullopt;
    for (const char c : base64) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=')
            return std::nullopt;
    }
    std::vector<unsigned char> decoded(base64.size());
    const int length = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char *>(base64.data()),
        static_cast<int>(base64.size()));
    // EVP_DecodeBlock counts the bytes the padding stands for as zeros.
    const std::size_t padding = base64.size() - base64.find_last_not_of('=') - 1;
    if (length < 0 || static_cast<std::size_t>(length) != base64.size() / 4 * 3
        || base64.size() / 4 * 3 - padding != static_cast<std::size_t>(bytes))
        return std::nullopt;
    return core::Checksum{algorithm, core::lowerHex(decoded.data(), static_cast<std::size_t>(bytes))};
}

template <std::size_t N>
std::optional<core::Checksum> strongest(
    std::string_view value, const std::array<DigestName, N> &names, bool byteSequence)
{
    const auto found = members(value);
    for (const DigestName &name : names) {
        for (const auto &[memberName, memberValue] : found) {
            if (memberName != name.name)
                continue;
            std::string_view base64 = memberValue;
            if (byteSequence) {
                // RFC 8941 3.3.5: a byte sequence is base64 between colons; parameters may follow.
                base64 = base64.substr(0, base64.find(';'));
                if (base64.size() < 2 || base64.front() != ':' || base64.back() != ':')
                    continue;
                base64 = base64.substr(1, base64.size() - 2);
            }
            if (std::optional<core::Checksum> checksum = fromBase64(name.algorithm, base64))
                return checksum;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<core::Checksum> parseReprDigest(std::string_view value)
{
    return strongest(value, kReprNames, true);
}

std::optional<core::Checksum> parseLegacyDigest(std::string_view value)
{
    return strongest(value, kLegacyNames, false);
}

std::optional<HttpChecksum> responseChecksum(std::string_view reprDigest, std::string_view digest)
{
    if (std::optional<core::Checksum> value = parseReprDigest(reprDigest))
        return HttpChecksum{*value, "Repr-Digest"};
    if (std::optional<core::Checksum> value = parseLegacyDigest(digest))
        return HttpChecksum{*value, "Digest"};
    return std::nullopt;
}

} // namespace bw::net
