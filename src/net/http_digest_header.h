// SPDX-License-Identifier: MIT
// The checksum an HTTP response carries for the whole file: Repr-Digest (RFC 9530, a structured-field
// dictionary of base64 byte sequences, "sha-256=:BASE64:") and the older Digest (RFC 3230,
// "SHA-256=BASE64"), and the request field that asks for one. Pure functions, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/checksum.h"

namespace bw::net {

// The Want-Repr-Digest request field, CR LF included.
inline constexpr std::string_view kWantReprDigestLine = "Want-Repr-Digest: sha-256=10, sha-512=5\r\n";

// The value of the strongest algorithm Bellwick knows (SHA-256, then SHA-512) in a Repr-Digest field;
// nothing when none is there or its value is no digest of that algorithm.
std::optional<core::Checksum> parseReprDigest(std::string_view value);
// Likewise for a Digest field: SHA-256, SHA-512, SHA (SHA-1), MD5, names in any case.
std::optional<core::Checksum> parseLegacyDigest(std::string_view value);

// What a response said: Repr-Digest wins over Digest. `source` names the field that told.
struct HttpChecksum
{
    core::Checksum value;
    std::string source; // "Repr-Digest" or "Digest"
};

std::optional<HttpChecksum> responseChecksum(std::string_view reprDigest, std::string_view digest);

} // namespace bw::net
