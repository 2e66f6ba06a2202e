// SPDX-License-Identifier: MIT
// bellwick-cli's command line: the host key accepted for one run.
#include <gtest/gtest.h>

#include "app/cli/cli_options.h"

namespace bw::cli {
namespace {

TEST(CliOptionsTest, TrustHostKeyTakesOneSha256Fingerprint)
{
    const struct
    {
        const char *name;
        std::vector<std::string> args;
        std::optional<std::string> key;
        bool ok;
    } cases[] = {
        {"fingerprint",
            {"--trust-host-key", "SHA256:nThbg6kXUpJWGl7E1IGOCspRomTxdCARLviKw6E5SY8", "sftp://h/"},
            "SHA256:nThbg6kXUpJWGl7E1IGOCspRomTxdCARLviKw6E5SY8", true},
        {"not given", {"sftp://h/"}, std::nullopt, true},
        {"no value", {"--trust-host-key"}, std::nullopt, false},
        {"another hash", {"--trust-host-key", "MD5:16:27:ac"}, std::nullopt, false},
        {"empty hash", {"--trust-host-key", "SHA256:"}, std::nullopt, false},
        {"blank inside", {"--trust-host-key", "SHA256:ab cd"}, std::nullopt, false},
    };

    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedCommandLine parsed = parseCommandLine(c.args);
        EXPECT_EQ(parsed.error.empty(), c.ok) << parsed.error;
        if (c.ok) {
            EXPECT_EQ(parsed.options.trustedHostKey, c.key);
        }
    }
    EXPECT_NE(std::string(usageText()).find("--trust-host-key SHA256:..."), std::string::npos);
    EXPECT_NE(std::string(usageText()).find("3 a server's host key was refused"), std::string::npos);
}

} // namespace
} // namespace bw::cli
