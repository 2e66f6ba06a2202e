// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "net/no_proxy.h"

namespace bw::net {
namespace {

struct NoProxyCase
{
    const char *list;
    const char *host;
    int port;
    bool bypasses;
};

TEST(NoProxy, MatchesTheFormsCurlReads)
{
    const NoProxyCase cases[] = {
        {"", "example.org", 80, false},
        {"*", "anything.example", 21, true},
        {"example.org", "example.org", 80, true},
        {"example.org", "www.Example.ORG", 80, true}, // below it, any case
        {"example.org", "badexample.org", 80, false}, // a suffix is no domain
        {".example.org", "example.org", 80, true}, // a leading dot changes nothing
        {".example.org", "ftp.example.org", 21, true},
        {"example.org.", "www.example.org", 80, true}, // nor does a trailing one
        {"localhost, example.net ,intra", "intra", 80, true},
        {"localhost example.net", "example.net", 80, true}, // spaces separate too
        {"example.org:8080", "example.org", 8080, true},
        {"example.org:8080", "example.org", 80, false},
        {"example.org:x", "example.org", 80, false}, // a port that is none: the entry means nothing
        {"192.0.2.7", "192.0.2.7", 21, true},
        {"2.7", "192.0.2.7", 21, false}, // a name never matches an address
        {"192.0.2.0/24", "192.0.2.200", 21, true},
        {"192.0.2.0/24", "192.0.3.1", 21, false},
        {"10.0.0.0/8:2121", "10.9.8.7", 2121, true},
        {"10.0.0.0/8:2121", "10.9.8.7", 21, false},
        {"192.0.2.0/33", "192.0.2.1", 80, false}, // too long a prefix
        {"::1", "::1", 22, true},
        {"::1", "[::1]", 22, true}, // the host as a URL writes it
        {"[::1]:8080", "::1", 8080, true},
        {"[::1]:8080", "::1", 80, false},
        {"fd00::/8", "fd12:3456::1", 443, true},
        {"fd00::/8", "fe80::1", 443, false},
        {"fd00::/8", "10.0.0.1", 443, false}, // families never mix
        {",,, ,", "example.org", 80, false},
    };
    for (const NoProxyCase &c : cases)
        EXPECT_EQ(bypassesProxy(c.list, c.host, c.port), c.bypasses)
            << "\"" << c.list << "\" for " << c.host << " port " << c.port;
}

} // namespace
} // namespace bw::net
