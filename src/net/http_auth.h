// SPDX-License-Identifier: MIT
// HTTP logins: reads the challenges of WWW-Authenticate fields and writes the Authorization value that
// answers the strongest one (Digest with SHA-256 or MD5, else Basic). Pure functions, any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace bw::net {

struct HttpChallenge
{
    std::string scheme; // lower case: "basic", "digest"
    std::map<std::string, std::string> params; // names in lower case, values unquoted
    std::string token68; // the single value some schemes take instead of parameters

    bool operator==(const HttpChallenge &) const = default;
};

// The ways of answering a challenge, weakest first.
enum class HttpAuthKind
{
    None,
    Basic,
    DigestMd5,
    DigestSha256,
};

// Every challenge of one WWW-Authenticate field value ("Digest realm=\"a\", nonce=\"b\", Basic
// realm=\"a\""). Reading stops at the first thing that is not a challenge; what came before stays.
std::vector<HttpChallenge> parseChallenges(std::string_view fieldValue);

// How `challenge` can be answered; None for an unknown scheme or algorithm, a Digest without realm or
// nonce, or one whose qop offers no "auth".
HttpAuthKind answerableKind(const HttpChallenge &challenge);

struct ChosenChallenge
{
    HttpAuthKind kind = HttpAuthKind::None;
    HttpChallenge challenge;
};

// The strongest challenge of all the fields that can be answered; kind None when there is none.
ChosenChallenge strongestChallenge(const std::vector<std::string> &fieldValues);

// "Basic " and the base64 of "user:password".
std::string basicAuthorization(std::string_view user, std::string_view password);

// What a Digest answer needs besides the challenge and the login.
struct DigestRequest
{
    std::string method; // "GET"
    std::string uri; // the request target as sent
    std::string cnonce; // from newClientNonce(), fixed in tests
    std::uint32_t nonceCount = 1;
};

// The Digest Authorization value for `chosen`; empty when it is no Digest challenge or a value to be
// quoted holds a control character (it would end the header line).
std::string digestAuthorization(const ChosenChallenge &chosen, std::string_view user,
    std::string_view password, const DigestRequest &request);

// A fresh client nonce: 16 random bytes in hexadecimal.
std::string newClientNonce();

} // namespace bw::net
