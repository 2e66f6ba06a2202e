// SPDX-License-Identifier: MIT
// ~/.netrc as curl reads it, which entry a site gets, and a file others can read being ignored.
#include <filesystem>

#include <gtest/gtest.h>

#include "core/url.h"
#include "engine/netrc.h"
#include "support/temp_dir.h"

namespace bw::engine {
namespace {

TEST(NetrcTest, ReadsEntriesAsCurlDoes)
{
    const struct
    {
        const char *name;
        const char *text;
        std::vector<NetrcEntry> expected;
    } cases[] = {
        {"across lines, with account", "machine h\n  login u\n account a password p\n",
            {{"h", false, "u", "p"}}},
        {"quoted with escapes", "machine h login \"a b\" password \"q\\\"\\\\\\n\"",
            {{"h", false, "a b", "q\"\\\n"}}},
        {"unclosed quote ends with the line", "machine h login \"u x\nmachine i",
            {{"h", false, "u x", ""}, {"i", false, "", ""}}},
        {"comments", "# all mine\nmachine h login u # not a password\npassword p", {{"h", false, "u", "p"}}},
        {"macdef skipped to its blank line",
            "machine h login u\nmacdef init\npassword x\nlogin y\n\npassword p", {{"h", false, "u", "p"}}},
        {"default last", "machine a login x password y\ndefault login anonymous password me@",
            {{"a", false, "x", "y"}, {"", true, "anonymous", "me@"}}},
    };

    for (const auto &c : cases)
        EXPECT_EQ(parseNetrc(c.text), c.expected) << c.name;
}

TEST(NetrcTest, GivesALoginOnlyWhereTheUrlHasNone)
{
    test::TempDir dir;
    const std::string path = (dir / "netrc").string();
    test::writeFile(path,
        "machine Files.Example login bob password b1\nmachine files.example login eve password e1\n"
        "default login anon password d1\n");
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::string anonymous = core::kAnonymousUser;
    const std::string noPassword = core::kDefaultAnonymousPassword;

    const struct
    {
        const char *name;
        std::string host, user, password;
        bool allowDefault;
        std::string expectedUser, expectedPassword;
    } cases[] = {
        {"first entry of the host, case ignored", "files.example", anonymous, noPassword, true, "bob", "b1"},
        {"the URL's user picks its entry", "files.example", "eve", noPassword, true, "eve", "e1"},
        {"the URL's own login wins", "files.example", "eve", "mine", true, "eve", "mine"},
        {"default for other hosts", "other.example", anonymous, noPassword, true, "anon", "d1"},
        {"no default over SSH", "other.example", anonymous, noPassword, false, anonymous, noPassword},
        {"a user the file does not know", "files.example", "zed", noPassword, false, "zed", noPassword},
    };

    for (const auto &c : cases) {
        const SiteLogin got = siteLogin(path, c.host, c.user, c.password, c.allowDefault);
        EXPECT_EQ(got.user + ":" + got.password, c.expectedUser + ":" + c.expectedPassword) << c.name;
    }

    std::filesystem::permissions(
        path, std::filesystem::perms::group_read, std::filesystem::perm_options::add);
    const SiteLogin ignored = siteLogin(path, "files.example", anonymous, noPassword, true);
    EXPECT_EQ(ignored.user, anonymous);
    EXPECT_NE(ignored.warning.find("can be read by other users"), std::string::npos) << ignored.warning;
}

} // namespace
} // namespace bw::engine
