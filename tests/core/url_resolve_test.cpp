// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/url_resolve.h"

namespace bw::core {
namespace {

// RFC 3986 5.4: every normal and abnormal example, from the base it gives.
TEST(UrlResolve, ResolvesTheExamplesOfRfc3986)
{
    const char *base = "http://a/b/c/d;p?q";
    const std::pair<const char *, const char *> cases[] = {
        {"g:h", "g:h"}, {"g", "http://a/b/c/g"}, {"./g", "http://a/b/c/g"}, {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"}, {"//g", "http://g"}, {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"}, {"g#s", "http://a/b/c/g#s"}, {"g?y#s", "http://a/b/c/g?y#s"},
        {";x", "http://a/b/c/;x"}, {"g;x", "http://a/b/c/g;x"}, {"g;x?y#s", "http://a/b/c/g;x?y#s"},
        {"", "http://a/b/c/d;p?q"}, {".", "http://a/b/c/"}, {"./", "http://a/b/c/"}, {"..", "http://a/b/"},
        {"../", "http://a/b/"}, {"../g", "http://a/b/g"}, {"../..", "http://a/"}, {"../../", "http://a/"},
        {"../../g", "http://a/g"}, {"../../../g", "http://a/g"}, {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"}, {"/../g", "http://a/g"}, {"g.", "http://a/b/c/g."}, {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."}, {"..g", "http://a/b/c/..g"}, {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"}, {"g/./h", "http://a/b/c/g/h"}, {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"}, {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"}, {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"g#s/./x", "http://a/b/c/g#s/./x"}, {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http:g"}, // strict
    };
    for (const auto &[reference, expected] : cases)
        EXPECT_EQ(resolveUriReference(base, reference), expected) << reference;
}

TEST(UrlResolve, SplitsOnlyAtTheSeparatorsThatApply)
{
    struct Case
    {
        const char *text;
        UriParts expected;
    };

    const Case cases[] = {
        {"logo@2x.png", {std::nullopt, std::nullopt, "logo@2x.png", std::nullopt, std::nullopt}},
        {"go?to=http://x/y", {std::nullopt, std::nullopt, "go", "to=http://x/y", std::nullopt}},
        {"a/b:c", {std::nullopt, std::nullopt, "a/b:c", std::nullopt, std::nullopt}},
        {"1a:b", {std::nullopt, std::nullopt, "1a:b", std::nullopt, std::nullopt}},
        {"HTTPS://h:1/p?#", {"HTTPS", "h:1", "/p", "", ""}},
        {"//u@h", {std::nullopt, "u@h", "", std::nullopt, std::nullopt}},
        {"%2525%5C", {std::nullopt, std::nullopt, "%2525%5C", std::nullopt, std::nullopt}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(splitUriReference(c.text), c.expected) << c.text;
        EXPECT_EQ(joinUriReference(splitUriReference(c.text)), c.text);
    }
}

} // namespace
} // namespace bw::core
