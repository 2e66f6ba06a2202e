// SPDX-License-Identifier: MIT
// The servers' ways of telling a checksum: FEAT and the HASH / XSHA256 replies, Repr-Digest and Digest.
#include <gtest/gtest.h>

#include "net/ftp_features.h"
#include "net/http_digest_header.h"

namespace bw::net {
namespace {

using core::ChecksumAlgorithm;

TEST(ChecksumReplies, TheStrongestHashCommandTheServerListsIsChosen)
{
    const struct
    {
        std::vector<std::string> feat;
        std::optional<std::string> command;
        ChecksumAlgorithm algorithm;
        bool selectFirst;
    } cases[] = {
        {{"211-Features:", " HASH CRC32;MD5;SHA-1*;SHA-256;SHA-512;", " RANG STREAM", "211 End"}, "HASH",
            ChecksumAlgorithm::Sha256, true},
        {{"211-Features:", " hash sha-256*;md5", "211 End"}, "HASH", ChecksumAlgorithm::Sha256, false},
        {{"211-Features:", " HASH MD5*", " XSHA256", "211 End"}, "HASH", ChecksumAlgorithm::Md5, false},
        {{"211-Features:", " XMD5", " XSHA1", "211 End"}, "XSHA1", ChecksumAlgorithm::Sha1, false},
        {{"211-Features:", " MDTM", " SIZE", "211 End"}, std::nullopt, ChecksumAlgorithm::None, false},
        {{"211-HASH SHA-256", "211 End"}, std::nullopt, ChecksumAlgorithm::None, false}, // no feature line
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.feat[1]);
        const std::optional<FtpHashCommand> how = chooseHashCommand(FtpFeatures::parse(c.feat));
        ASSERT_EQ(how.has_value(), c.command.has_value());
        if (!how)
            continue;
        EXPECT_EQ(how->command, *c.command);
        EXPECT_EQ(how->algorithm, c.algorithm);
        EXPECT_EQ(how->selectFirst, c.selectFirst);
    }
}

TEST(ChecksumReplies, HashRepliesGiveTheirValueOnlyForTheBytesAskedFor)
{
    const std::string hex(64, 'a');
    const std::string upper(64, 'A');

    const struct
    {
        std::string line;
        std::int64_t first;
        std::int64_t end;
        bool x; // an XSHA256 reply
        bool found;
    } cases[] = {
        {"213 SHA-256 0-12 " + hex + " a.txt", 0, -1, false, true},
        {"213 SHA-256 0-49 " + upper + " my file.txt", 0, 49, false, true},
        {"213 SHA-256 0-300000 " + hex + " a.txt", 0, 120000, false, false}, // the range was ignored
        {"213 SHA-1 0-12 " + hex.substr(0, 40) + " a.txt", 0, -1, false, false}, // another algorithm
        {"213 SHA-256 0-12 " + hex.substr(1) + " a.txt", 0, -1, false, false},
        {"213 SHA-256 x-12 " + hex, 0, -1, false, false},
        {"250 " + upper, 0, -1, true, true},
        {"250 " + hex + " a.txt", 0, -1, true, true},
        {"550 a.txt: No such file", 0, -1, true, false},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const auto value = c.x ? parseXHashReply(c.line, ChecksumAlgorithm::Sha256)
                               : parseHashReply(c.line, ChecksumAlgorithm::Sha256, c.first, c.end);
        EXPECT_EQ(value.has_value(), c.found);
        if (value) {
            EXPECT_EQ(value->hex, hex);
        }
    }
}

TEST(ChecksumReplies, DigestFieldsGiveTheStrongestValidValue)
{
    // SHA-256 and MD5 of "", in base64 and in hex.
    const std::string sha256 = "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
    const std::string sha256Hex = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    const std::string md5 = "1B2M2Y8AsgTpgAmY7PhCfg==";
    const std::string md5Hex = "d41d8cd98f00b204e9800998ecf8427e";

    const struct
    {
        std::string reprDigest;
        std::string digest;
        std::optional<std::string> hex;
        std::string source;
    } cases[] = {
        {"sha-256=:" + sha256 + ":", "", sha256Hex, "Repr-Digest"},
        {"md5=:" + md5 + ":, SHA-256=:" + sha256 + ":;p=1", "", sha256Hex, "Repr-Digest"},
        {"sha-256=" + sha256, "MD5=" + md5, md5Hex, "Digest"}, // no byte sequence: the older field
        {"sha-256=:" + sha256.substr(4) + ":", "", std::nullopt, ""}, // too short
        {"sha-256=:" + std::string(43, '!') + "=:", "", std::nullopt, ""},
        {"", "sha-256=" + sha256 + ",md5=" + md5, sha256Hex, "Digest"},
        {"", "UNIXsum=30637", std::nullopt, ""},
        {"sha-256=::", "SHA=", std::nullopt, ""},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.reprDigest + " | " + c.digest);
        const std::optional<HttpChecksum> told = responseChecksum(c.reprDigest, c.digest);
        ASSERT_EQ(told.has_value(), c.hex.has_value());
        if (!told)
            continue;
        EXPECT_EQ(told->value.hex, *c.hex);
        EXPECT_EQ(told->source, c.source);
    }
}

} // namespace
} // namespace bw::net
