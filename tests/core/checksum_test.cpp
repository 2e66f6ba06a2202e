// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/checksum.h"

namespace bw::core {
namespace {

TEST(Checksum, ReadsWhatTheUserTypes)
{
    const std::string sha256(64, 'A');

    const struct
    {
        std::string text;
        std::optional<Checksum> expected;
    } cases[] = {
        {"sha256=" + sha256, Checksum{ChecksumAlgorithm::Sha256, std::string(64, 'a')}},
        {" SHA1 = 0123456789abcdef0123456789ABCDEF01234567 ",
            Checksum{ChecksumAlgorithm::Sha1, "0123456789abcdef0123456789abcdef01234567"}},
        {"md5=" + std::string(32, '0'), Checksum{ChecksumAlgorithm::Md5, std::string(32, '0')}},
        {"sha512=" + std::string(128, 'f'), Checksum{ChecksumAlgorithm::Sha512, std::string(128, 'f')}},
        {"sha256=" + sha256.substr(1), std::nullopt}, // a digit short
        {"sha256=" + sha256.substr(1) + "g", std::nullopt}, // no hex digit
        {"sha-256=" + sha256, std::nullopt},
        {sha256, std::nullopt},
        {"", std::nullopt},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseUserChecksum(c.text), c.expected);
        if (c.expected) {
            EXPECT_EQ(parseUserChecksum(userChecksumText(*c.expected)), c.expected);
        }
    }
}

} // namespace
} // namespace bw::core
