// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/url_password_mask.h"

namespace bw::core {
namespace {

TEST(UrlPasswordMaskTest, MasksEveryUrlPasswordInText)
{
    struct Case
    {
        const char *name;
        const char *text;
        const char *masked;
    };

    const Case cases[] = {
        {"a URL alone", "ftp://u:secret@h/a.iso", "ftp://u:********@h/a.iso"},
        {"no password", "ftp://u@h/a.iso", "ftp://u@h/a.iso"},
        {"an @ in the password: the last one ends it", "ftp://u:p@ss@h/", "ftp://u:********@h/"},
        {"stacked prefixes", "http://ftpes://u:p@h/", "http://ftpes://u:********@h/"},
        {"inside a sentence, two of them", "Cannot follow ftp://a:1@h/x to 'sftp://b:2@k/y' now",
            "Cannot follow ftp://a:********@h/x to 'sftp://b:********@k/y' now"},
        {"an empty password", "ftp://u:@h/", "ftp://u:********@h/"},
        {"no URL", "PASS is: a:b@c", "PASS is: a:b@c"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(maskPasswordsInText(c.text), c.masked) << c.name;
    // A whole URL is one, blanks and all; an untouched mask gets the password back, a new one stays.
    EXPECT_EQ(maskUrlPassword("ftp://u:pass word@h/"), "ftp://u:********@h/");
    EXPECT_EQ(unmaskUrlPassword("ftp://u:********@k/b", "ftp://u:secret@h/a"), "ftp://u:secret@k/b");
    EXPECT_EQ(unmaskUrlPassword("ftp://u:new@h/a", "ftp://u:secret@h/a"), "ftp://u:new@h/a");
}

} // namespace
} // namespace bw::core
