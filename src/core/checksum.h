// SPDX-License-Identifier: MIT
// A file's expected checksum: its algorithm and its value in lower-case hex, how the user writes one
// ("sha256=HEX") and the names the log shows. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace bw::core {

// The stored numbers; new algorithms go at the end.
enum class ChecksumAlgorithm : int
{
    None = 0,
    Md5 = 1,
    Sha1 = 2,
    Sha256 = 3,
    Sha512 = 4,
};

struct Checksum
{
    ChecksumAlgorithm algorithm = ChecksumAlgorithm::None;
    std::string hex; // lower case, as long as the algorithm's digest

    bool isSet() const { return algorithm != ChecksumAlgorithm::None; }

    bool operator==(const Checksum &) const = default;
};

// "SHA-256", "SHA-512", "SHA-1", "MD5"; empty for None.
std::string_view checksumAlgorithmName(ChecksumAlgorithm algorithm);
// The digest's length in bytes; 0 for None.
int checksumDigestBytes(ChecksumAlgorithm algorithm);
// The stored number read back; nothing for a number no algorithm has.
std::optional<ChecksumAlgorithm> checksumAlgorithmFromIndex(int index);

// `value` as the algorithm's digest: hex digits of the right count, either case (made lower case).
std::optional<Checksum> makeChecksum(ChecksumAlgorithm algorithm, std::string_view hex);
// What the user types: "sha256=HEX", "sha512=", "sha1=", "md5=" (names in either case, blanks around
// the value ignored). Nothing for any other text.
std::optional<Checksum> parseUserChecksum(std::string_view text);
// `length` bytes as lower-case hex, two digits each.
std::string lowerHex(const unsigned char *bytes, std::size_t length);
// The user's form of `checksum` ("sha256=..."); empty when unset.
std::string userChecksumText(const Checksum &checksum);

} // namespace bw::core
