// SPDX-License-Identifier: MIT
// The active-mode listening port: the kernel's range and reserved ports as /proc gives them.
#include <gtest/gtest.h>

#include "net/listen_ports.h"

namespace bw::net {
namespace {

TEST(ListenPorts, RangeAndReservedPortsAreReadAsTheKernelWritesThem)
{
    struct Case
    {
        const char *range;
        const char *reserved;
        int first;
        int last;
        std::vector<int> reservedPorts;
        std::vector<int> freePorts;
    };

    const Case cases[] = {
        {"32768\t60999\n", "\n", 32768, 60999, {}, {32768, 60999}},
        {"40000 40010", "40001,40003-40005\n", 40000, 40010, {40001, 40003, 40004, 40005}, {40002, 40006}},
        // A range that does not parse, or runs backwards, leaves the kernel's default.
        {"", "", 32768, 60999, {}, {}},
        {"60000 50000", "", 32768, 60999, {}, {}},
        {"abc", "x,70-,9-8", 32768, 60999, {}, {9, 70}},
    };
    for (const Case &c : cases) {
        const ListenPorts ports(c.range, c.reserved);
        EXPECT_EQ(ports.first(), c.first) << c.range;
        EXPECT_EQ(ports.last(), c.last) << c.range;
        for (const int port : c.reservedPorts)
            EXPECT_TRUE(ports.isReserved(port)) << c.reserved << " " << port;
        for (const int port : c.freePorts)
            EXPECT_FALSE(ports.isReserved(port)) << c.reserved << " " << port;
    }
}

TEST(ListenPorts, PicksOnlyFreePortsOfTheRange)
{
    const ListenPorts ports("50000 50009", "50000-50004,50006");
    for (int draw = 0; draw < 500; ++draw) {
        const int port = ports.pick();
        if (port == 0)
            continue; // every draw met a reserved port: the caller asks the kernel instead
        EXPECT_GE(port, 50005);
        EXPECT_LE(port, 50009);
        EXPECT_NE(port, 50006);
    }
    // Nothing free at all: no port.
    EXPECT_EQ(ListenPorts("50000 50001", "50000-50001").pick(), 0);
}

} // namespace
} // namespace bw::net
