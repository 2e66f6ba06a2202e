// SPDX-License-Identifier: MIT
// WWW-Authenticate values: whatever a server sends, the challenges read are well-formed and no answer
// built from them can break the request's header line.
#include <cctype>

#include "fuzz_check.h"
#include "net/http_auth.h"

namespace {

bool isLowerToken(const std::string &text)
{
    for (const char c : text) {
        if (std::isupper(static_cast<unsigned char>(c)) || c == ' ' || c == ',' || c == '=' || c == '"')
            return false;
    }
    return !text.empty();
}

bool breaksTheLine(const std::string &value)
{
    return value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw::net;
    const std::string field(bw::fuzz::bytesOf(data, size));
    const std::vector<HttpChallenge> challenges = parseChallenges(field);
    BW_FUZZ_CHECK(challenges == parseChallenges(field));
    for (const HttpChallenge &challenge : challenges) {
        BW_FUZZ_CHECK(isLowerToken(challenge.scheme));
        for (const auto &[name, value] : challenge.params)
            BW_FUZZ_CHECK(isLowerToken(name));
    }
    const ChosenChallenge chosen = strongestChallenge({field});
    BW_FUZZ_CHECK(chosen.kind == HttpAuthKind::None || answerableKind(chosen.challenge) == chosen.kind);
    const std::string answer = digestAuthorization(chosen, "user", "pass", {"GET", "/f", "0a1b", 1});
    BW_FUZZ_CHECK(!breaksTheLine(answer));
    BW_FUZZ_CHECK(answer.empty() || chosen.kind >= HttpAuthKind::DigestMd5);
    BW_FUZZ_CHECK(!breaksTheLine(basicAuthorization(field, field)));
    return 0;
}
