// SPDX-License-Identifier: MIT
#include <string>

#include <gtest/gtest.h>

#include "engine/host_key_trust.h"

namespace bw::engine {
namespace {

TEST(HostKeyTrustTest, ReadsTheUnknownKeyOutOfTheStatusDetail)
{
    const struct
    {
        const char *name;
        std::string detail;
        bool unknown;
        std::string sha256, keyType;
        bool refusal;
    } cases[] = {
        {"fingerprint only", "Host key unknown: SHA256:AbC+/1", true, "SHA256:AbC+/1", "", true},
        {"with key type", "Host key unknown: SHA256:AbC (ssh-ed25519)", true, "SHA256:AbC", "ssh-ed25519",
            true},
        {"other text after it", "Host key unknown: SHA256:AbC, ask the owner", true, "SHA256:AbC,", "", true},
        {"changed key", "Host key unknown: SHA256:AbC (changed from SHA256:Old)", false, "", "", true},
        {"changed key in other words", "Host key changed: SHA256:New, known SHA256:Old", false, "", "", true},
        {"no fingerprint", "Host key unknown: ", false, "", "", true},
        {"fingerprint of another hash", "Host key unknown: MD5:ab:cd", false, "", "", true},
        {"empty hash", "Host key unknown: SHA256:", false, "", "", true},
        {"certificate refusal", "Certificate verification failed: expired", false, "", "", false},
        {"empty", "", false, "", "", false},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<UnknownHostKey> key = unknownHostKeyOfDetail(c.detail);
        ASSERT_EQ(key.has_value(), c.unknown);
        if (key) {
            EXPECT_EQ(key->sha256, c.sha256);
            EXPECT_EQ(key->keyType, c.keyType);
        }
        EXPECT_EQ(isHostKeyRefusal(c.detail), c.refusal);
    }
}

} // namespace
} // namespace bw::engine
