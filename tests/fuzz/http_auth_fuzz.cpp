// SPDX-License-Identifier: MIT
// WWW-Authenticate values: whatever a server sends, reading it is safe, the challenge chosen is one
// that can be answered, and no answer built from it can break the request's header line.
#include "fuzz_check.h"
#include "net/http_auth.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw::net;
    const std::string field(bw::fuzz::bytesOf(data, size));
    for (const HttpChallenge &challenge : parseChallenges(field))
        BW_FUZZ_CHECK(!challenge.scheme.empty());
    const ChosenChallenge chosen = strongestChallenge({field});
    BW_FUZZ_CHECK(chosen.kind == HttpAuthKind::None || answerableKind(chosen.challenge) == chosen.kind);
    const std::string answer = digestAuthorization(chosen, "user", "pass", {"GET", "/f", "0a1b", 1});
    BW_FUZZ_CHECK(answer.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    BW_FUZZ_CHECK(answer.empty() || chosen.kind >= HttpAuthKind::DigestMd5);
    return 0;
}
