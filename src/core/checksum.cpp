// SPDX-License-Identifier: MIT
#include "core/checksum.h"

#include <array>
#include <cctype>

namespace bw::core {

namespace {

struct AlgorithmInfo
{
    ChecksumAlgorithm algorithm;
    std::string_view userName; // before "=" in what the user types
    std::string_view shownName;
    int digestBytes;
};

constexpr std::array<AlgorithmInfo, 4> kAlgorithms{{
    {ChecksumAlgorithm::Md5, "md5", "MD5", 16},
    {ChecksumAlgorithm::Sha1, "sha1", "SHA-1", 20},
    {ChecksumAlgorithm::Sha256, "sha256", "SHA-256", 32},
    {ChecksumAlgorithm::Sha512, "sha512", "SHA-512", 64},
}};

const AlgorithmInfo *infoOf(ChecksumAlgorithm algorithm)
{
    for (const AlgorithmInfo &info : kAlgorithms) {
        if (info.algorithm == algorithm)
            return &info;
    }
    return nullptr;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

} // namespace

std::string_view checksumAlgorithmName(ChecksumAlgorithm algorithm)
{
    const AlgorithmInfo *info = infoOf(algorithm);
    return info ? info->shownName : std::string_view();
}

int checksumDigestBytes(ChecksumAlgorithm algorithm)
{
    const AlgorithmInfo *info = infoOf(algorithm);
    return info ? info->digestBytes : 0;
}

std::optional<ChecksumAlgorithm> checksumAlgorithmFromIndex(int index)
{
    const auto algorithm = static_cast<ChecksumAlgorithm>(index);
    if (!infoOf(algorithm))
        return std::nullopt;
    return algorithm;
}

std::optional<Checksum> makeChecksum(ChecksumAlgorithm algorithm, std::string_view hex)
{
    const int bytes = checksumDigestBytes(algorithm);
    if (bytes == 0 || hex.size() != static_cast<std::size_t>(bytes) * 2)
        return std::nullopt;
    Checksum checksum{algorithm, {}};
    checksum.hex.reserve(hex.size());
    for (const char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        checksum.hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return checksum;
}

std::optional<Checksum> parseUserChecksum(std::string_view text)
{
    text = trimmed(text);
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    const std::string name = lowerCase(trimmed(text.substr(0, equals)));
    for (const AlgorithmInfo &info : kAlgorithms) {
        if (name == info.userName)
            return makeChecksum(info.algorithm, trimmed(text.substr(equals + 1)));
    }
    return std::nullopt;
}

std::string lowerHex(const unsigned char *bytes, std::size_t length)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

std::string userChecksumText(const Checksum &checksum)
{
    const AlgorithmInfo *info = infoOf(checksum.algorithm);
    return info ? std::string(info->userName) + "=" + checksum.hex : std::string();
}

} // namespace bw::core
