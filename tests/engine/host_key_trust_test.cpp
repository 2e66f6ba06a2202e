// SPDX-License-Identifier: MIT
#include <tuple>

#include <gtest/gtest.h>

#include "engine/host_key_trust.h"

namespace bw::engine {
namespace {

// Each detail with the key it offers for trust ("" for none) and whether it is a host key refusal.
TEST(HostKeyTrustTest, ReadsTheUnknownKeyOutOfTheStatusDetail)
{
    for (const auto &[detail, offered, refusal] : {
             std::tuple{"Host key unknown: SHA256:AbC+/1", "SHA256:AbC+/1|", true},
             std::tuple{"Host key unknown: SHA256:AbC (ssh-ed25519)", "SHA256:AbC|ssh-ed25519", true},
             std::tuple{"Host key unknown: SHA256:AbC (changed from SHA256:Old)", "", true},
             std::tuple{"Host key changed: SHA256:New, known SHA256:Old", "", true},
             std::tuple{"Host key unknown: SHA256:", "", true},
             std::tuple{"Certificate verification failed: expired", "", false},
         }) {
        const std::optional<UnknownHostKey> key = unknownHostKeyOfDetail(detail);
        EXPECT_EQ(key ? key->sha256 + "|" + key->keyType : "", offered) << detail;
        EXPECT_EQ(isHostKeyRefusal(detail), refusal) << detail;
    }
}

} // namespace
} // namespace bw::engine
