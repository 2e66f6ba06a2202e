// SPDX-License-Identifier: MIT
// The checksum a download or upload is checked against, where it came from (the user, the server's
// HASH or XSHA256, an HTTP Repr-Digest or Digest), the lines the log, the row and bellwick-cli show for
// the verdict, and where a file that failed the check is kept. Pure, any thread.
#pragma once

#include <optional>
#include <string>

#include "core/checksum.h"

namespace bw::engine {

struct ExpectedChecksum
{
    core::Checksum value;
    // The server's way of telling it ("HASH", "XSHA256", "Repr-Digest", "Digest"); empty: the user's.
    std::string serverSource;
};

enum class ChecksumVerdict
{
    Unchecked, // nothing to compare with, or the file could not be hashed
    Verified,
    Mismatch,
};

// "Verified SHA-256 (server HASH)", "Verified SHA-256 (user checksum)".
std::string verifiedText(const ExpectedChecksum &expected);
// "Checksum mismatch (SHA-256 from the server's HASH)", "... (SHA-256 from the user's checksum)".
std::string mismatchText(const ExpectedChecksum &expected);
// The Batch Log line with both values: "Expected SHA-256 ... from the server's HASH; the file has ...".
std::string mismatchValuesText(const ExpectedChecksum &expected, const std::string &actualHex);

// Compares `actualHex` (empty: not hashed) with the expected value.
ChecksumVerdict judgeChecksum(const std::optional<ExpectedChecksum> &expected, const std::string &actualHex);

// Moves `path` (a file that failed its check) beside `localPath` as "NAME.mismatch", or the first free
// "NAME (1).mismatch", ... up to "NAME (3).mismatch", never replacing a file. The new path, or empty
// when it could not move.
std::string keepMismatchedFile(const std::string &path, const std::string &localPath);

} // namespace bw::engine
