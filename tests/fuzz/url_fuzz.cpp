// SPDX-License-Identifier: MIT
// The URL splitter on any text: it never crashes, resets what it fills, and what it accepts has a
// port the network can carry and a host without separators (a ':' only inside an IPv6 address). Any text as
// user and password, escaped, reads back as it was.
#include "core/url.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw::core;
    const std::string_view text = bw::fuzz::bytesOf(data, size);

    const std::string_view user = text.substr(0, text.size() / 2);
    const std::string_view password = text.substr(text.size() / 2);
    Url login;
    BW_FUZZ_CHECK(
        parseUrl("ftp://" + escapeUserInfo(user) + ":" + escapeUserInfo(password) + "@h:21", login));
    BW_FUZZ_CHECK(login.scheme == SchemeFtp && login.host == "h" && login.port == 21);
    BW_FUZZ_CHECK(login.user == user && login.password == password);

    Url url;
    const bool ok = parseUrl(text, url);
    Url again{SchemeHttp, "old", 8080, "u", "p", "/old/", "f"};
    BW_FUZZ_CHECK(parseUrl(text, again) == ok);
    if (!ok)
        return 0;
    BW_FUZZ_CHECK(again == url); // nothing of an earlier URL survives
    if (url.scheme != SchemeLocal) {
        BW_FUZZ_CHECK(url.port >= 1 && url.port <= 65535);
        BW_FUZZ_CHECK(!url.path.empty() && url.path.front() == '/');
        BW_FUZZ_CHECK(url.host.find_first_of("@/\\") == std::string::npos);
        // A ':' only in an IPv6 address, which reads back as the same host when written in brackets.
        Url host;
        BW_FUZZ_CHECK(url.host.find(':') == std::string::npos
            || (parseUrl("ftp://" + hostForUrl(url.host) + "/", host) && host.host == url.host));
    }
    if (!url.path.empty())
        BW_FUZZ_CHECK(url.path.back() == '/' || url.fileName.empty());

    // A name holding "@" appended to the URL stays one name.
    const std::string escaped = escapeAt(url.fileName);
    BW_FUZZ_CHECK(escaped.find('@') == std::string::npos);
    BW_FUZZ_CHECK(unescapeUrlPart(url.user).size() <= url.user.size());
    return 0;
}
