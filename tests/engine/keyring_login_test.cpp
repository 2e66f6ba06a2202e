// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "engine/keyring_login.h"

namespace bw::engine {
namespace {

TEST(KeyringLoginTest, TakesOutOnlyThePassword)
{
    struct Case
    {
        const char *name;
        const char *url;
        const char *without; // nullptr: the URL keeps its text
        const char *password;
        KeyringLogin login;
    };

    const Case cases[] = {
        {"plain", "ftp://bob:s3cret@h/d/f", "ftp://bob@h/d/f", "s3cret", {"ftp", "h", 21, "bob"}},
        {"escaped, port", "ftpes://b%40x:p%3Aw@h:2121/f", "ftpes://b%40x@h:2121/f", "p:w",
            {"ftpes", "h", 2121, "b@x"}},
        {"upload shares", "sftpu://bob:pw@[::1]/up/", "sftpu://bob@[::1]/up/", "pw",
            {"sftp", "::1", 22, "bob"}},
        {"@ in password", "http://bob:a@b@h/f", "http://bob@h/f", "a@b", {"http", "h", 80, "bob"}},
        {"empty password", "ftp://bob:@h/", "ftp://bob@h/", "", {"ftp", "h", 21, "bob"}},
        {"no password", "ftp://bob@h/f", nullptr, "", {}},
        {"anonymous", "ftp://anonymous:me@x.org@h/f", nullptr, "", {}},
        {"no login", "http://h/f", nullptr, "", {}},
        {"local file", "file://bob:pw@/tmp/f", nullptr, "", {}},
        {"not a URL", "bob:pw@h", nullptr, "", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<UrlWithoutPassword> split = splitPassword(c.url);
        ASSERT_EQ(split.has_value(), c.without != nullptr);
        if (!split)
            continue;
        EXPECT_EQ(split->url, c.without);
        EXPECT_EQ(split->password, c.password);
        EXPECT_EQ(split->login, c.login);
        EXPECT_TRUE(urlLacksPassword(split->url));
        // Written back, the password reads as it was.
        EXPECT_EQ(splitPassword(urlWithPassword(split->url, split->password))->password, c.password);
    }
    EXPECT_EQ(keyringLabel({"ftp", "h", 21, "bob"}), "Bellwick: bob@h");
    EXPECT_EQ(urlWithPassword("ftp://bob@h/f", "a/b c"), "ftp://bob:a%2Fb%20c@h/f");
}

} // namespace
} // namespace bw::engine
