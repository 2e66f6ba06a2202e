// SPDX-License-Identifier: MIT
// What a server's FEAT reply (RFC 2389) lists, and the replies of the checksum commands it may offer:
// HASH (with RANG for a byte range) and the older XSHA256, XSHA1 and XMD5. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/checksum.h"

namespace bw::net {

class FtpFeatures
{
public:
    // From the lines of a 211 FEAT reply, its first and last line included.
    static FtpFeatures parse(const std::vector<std::string> &replyLines);

    // The feature is listed (its name in any case).
    bool has(std::string_view name) const;
    // What follows the feature's name on its line ("SHA-1*;SHA-256" for HASH); empty when unlisted.
    std::string arguments(std::string_view name) const;

private:
    std::vector<std::pair<std::string, std::string>> m_features; // upper-case name, arguments
};

// How the server is asked for a file's checksum.
struct FtpHashCommand
{
    std::string command; // "HASH", "XSHA256", "XSHA1", "XMD5"
    core::ChecksumAlgorithm algorithm = core::ChecksumAlgorithm::None;
    // HASH with `algorithm` needs "OPTS HASH <name>" first (it is not the server's current one).
    bool selectFirst = false;
};

// The command to ask, the strongest the server lists: HASH (SHA-256, SHA-512, SHA-1 or MD5, in that
// order of preference), else XSHA256, XSHA1, XMD5. Nothing when none is listed.
std::optional<FtpHashCommand> chooseHashCommand(const FtpFeatures &features);

// A HASH reply's last line, "213 SHA-256 0-49 <hex> name": the value when the algorithm is `algorithm`
// and the range is [firstByte, endByte) (endByte -1: any).
std::optional<core::Checksum> parseHashReply(
    std::string_view line, core::ChecksumAlgorithm algorithm, std::int64_t firstByte, std::int64_t endByte);
// An XSHA256 / XSHA1 / XMD5 reply's last line: "250 <hex>" (a name may follow), or 213 alike.
std::optional<core::Checksum> parseXHashReply(std::string_view line, core::ChecksumAlgorithm algorithm);

} // namespace bw::net
