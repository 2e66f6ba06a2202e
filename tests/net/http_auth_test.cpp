// SPDX-License-Identifier: MIT
// Reading WWW-Authenticate challenges and answering them, against the examples of RFC 7616 and 7617.
#include <gtest/gtest.h>

#include "net/http_auth.h"

namespace bw::net {
namespace {

TEST(HttpAuthTest, ReadsEveryChallengeOfAField)
{
    using Params = std::map<std::string, std::string>;

    const struct
    {
        const char *name;
        const char *field;
        std::vector<HttpChallenge> expected;
    } cases[] = {
        {"basic", "Basic realm=\"simple\"", {{"basic", Params{{"realm", "simple"}}, ""}}},
        {"two challenges and a quoted comma", "Digest realm=\"a, b\", nonce=x, Basic realm=\"r\"",
            {{"digest", Params{{"realm", "a, b"}, {"nonce", "x"}}, ""},
                {"basic", Params{{"realm", "r"}}, ""}}},
        {"escapes, blanks around = and case", "DIGEST Realm = \"q\\\"uo\\\\te\" ,NONCE=n",
            {{"digest", Params{{"realm", "q\"uo\\te"}, {"nonce", "n"}}, ""}}},
        {"token68 then a challenge", "Negotiate abc+/==, Basic realm=r",
            {{"negotiate", {}, "abc+/=="}, {"basic", Params{{"realm", "r"}}, ""}}},
        {"a repeated parameter keeps the first", "Basic realm=a, realm=b",
            {{"basic", Params{{"realm", "a"}}, ""}}},
        {"unterminated quote drops its challenge", "Basic realm=r, Digest realm=\"open",
            {{"basic", Params{{"realm", "r"}}, ""}}},
        {"missing value", "Digest nonce=n, realm=", {}},
        {"missing comma between parameters", "Digest realm=a nonce=b", {}},
    };

    for (const auto &c : cases)
        EXPECT_EQ(parseChallenges(c.field), c.expected) << c.name;
}

TEST(HttpAuthTest, RefusesChallengesItCannotAnswer)
{
    for (const char *field : {"Digest realm=r, nonce=n, algorithm=SHA-512-256", "Digest realm=r",
             "Negotiate abc", "Digest realm=r, nonce=n, qop=\"auth-int\""})
        EXPECT_EQ(strongestChallenge({field}).kind, HttpAuthKind::None) << field;
}

TEST(HttpAuthTest, AnswersAsTheRfcExamplesDo)
{
    // RFC 7617 2.
    EXPECT_EQ(basicAuthorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    // RFC 7616 3.9.1, with its client nonce.
    const std::string challenge = "realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
                                  "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
                                  "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
    const DigestRequest request{"GET", "/dir/index.html", "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", 1};
    const std::string common =
        "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", "
        "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", uri=\"/dir/index.html\", ";
    const std::string tail =
        "qop=auth, nc=00000001, cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", ";
    const std::string opaque = ", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
    EXPECT_EQ(digestAuthorization(strongestChallenge({"Digest " + challenge + ", algorithm=SHA-256"}),
                  "Mufasa", "Circle of Life", request),
        common + "algorithm=SHA-256, " + tail
            + "response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\"" + opaque);
    EXPECT_EQ(digestAuthorization(strongestChallenge({"Digest " + challenge + ", algorithm=MD5"}), "Mufasa",
                  "Circle of Life", request),
        common + "algorithm=MD5, " + tail + "response=\"8ca523f5e9506fed4657c9700eebdbec\"" + opaque);
    // A line break in a value would end the header: no answer at all.
    EXPECT_EQ(
        digestAuthorization(strongestChallenge({"Digest " + challenge}), "Mu\r\nX: y", "p", request), "");
    EXPECT_NE(newClientNonce(), newClientNonce());
}

} // namespace
} // namespace bw::net
