// SPDX-License-Identifier: MIT
// Checksum fields and replies: Repr-Digest, Digest, HASH and XSHA256 lines. Whatever they hold, a value
// that comes out is a digest of its algorithm in lower-case hex, and reading it never crashes.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/checksum.h"
#include "fuzz_check.h"
#include "net/ftp_features.h"
#include "net/http_digest_header.h"

namespace {

using bw::core::Checksum;
using bw::core::ChecksumAlgorithm;

void checkValue(const std::optional<Checksum> &value)
{
    if (!value)
        return;
    BW_FUZZ_CHECK(
        value->hex.size() == static_cast<std::size_t>(bw::core::checksumDigestBytes(value->algorithm)) * 2);
    for (const char c : value->hex)
        BW_FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = bw::fuzz::bytesOf(data, size);
    checkValue(bw::net::parseReprDigest(text));
    checkValue(bw::net::parseLegacyDigest(text));
    if (const auto told = bw::net::responseChecksum(text, text))
        checkValue(told->value);
    checkValue(bw::net::parseHashReply(text, ChecksumAlgorithm::Sha256, 0, -1));
    checkValue(bw::net::parseXHashReply(text, ChecksumAlgorithm::Md5));
    checkValue(bw::core::parseUserChecksum(text));
    // A FEAT reply made of the text's lines picks a command only with a known algorithm.
    std::vector<std::string> lines{"211-Features:"};
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (const auto how = bw::net::chooseHashCommand(bw::net::FtpFeatures::parse(lines)))
        BW_FUZZ_CHECK(bw::core::checksumDigestBytes(how->algorithm) > 0);
    return 0;
}
