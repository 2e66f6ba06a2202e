// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "net/host_addresses.h"

namespace bw::net {
namespace {

TEST(HostAddresses, ResolvesLiteralsToThemselves)
{
    struct Case
    {
        const char *host;
        int family;
        const char *text;
    };

    for (const Case c : {Case{"127.0.0.1", AF_INET, "127.0.0.1"}, Case{"::1", AF_INET6, "::1"},
             Case{"[::1]", AF_INET6, "::1"}, Case{"2001:db8:0::7", AF_INET6, "2001:db8::7"}}) {
        SCOPED_TRACE(c.host);
        const std::vector<SocketAddress> addresses = resolveHost(c.host, 2121);
        ASSERT_EQ(addresses.size(), 1u);
        EXPECT_EQ(addresses[0].family(), c.family);
        std::string text;
        int port = 0;
        ASSERT_TRUE(addressText(addresses[0].data(), text, port));
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(port, 2121);
    }
}

TEST(HostAddresses, UnknownOrEmptyHostsGiveNothing)
{
    for (const char *host : {"", "[]", "no-such-host.invalid", "[zz]"}) {
        SCOPED_TRACE(host);
        EXPECT_TRUE(resolveHost(host, 21).empty());
    }
}

std::vector<std::string> fixedAnswer(const std::string &)
{
    return {"::1", "not an address", "192.0.2.5"};
}

TEST(HostAddresses, ResolverHookKeepsItsOrderAndDropsNonNumericAnswers)
{
    const std::vector<SocketAddress> addresses = resolveHost("any.test", 80, &fixedAnswer);
    ASSERT_EQ(addresses.size(), 2u);
    std::string text;
    int port = 0;
    ASSERT_TRUE(addressText(addresses[0].data(), text, port));
    EXPECT_EQ(text, "::1");
    ASSERT_TRUE(addressText(addresses[1].data(), text, port));
    EXPECT_EQ(text, "192.0.2.5");
    EXPECT_EQ(port, 80);
}

} // namespace
} // namespace bw::net
