// SPDX-License-Identifier: MIT
// Picks the port of an active-mode listening socket. Asking the kernel for any free port (bind to port
// 0) searches the whole range, which grows slow when thousands of recent connections wait out their
// TIME_WAIT (a tree of small files leaves one per file): half a millisecond per file and more. A
// random port of the same range, tried a few times, costs one look-up.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace bw::net {

class ListenPorts
{
public:
    // The kernel's ephemeral range and reserved ports, read once.
    static const ListenPorts &system();

    // `range` as in ip_local_port_range ("32768\t60999"), `reserved` as in ip_local_reserved_ports
    // ("8080,9000-9010"). A range that does not parse gives the kernel's default.
    ListenPorts(std::string_view range, std::string_view reserved);

    // A random port of the range that is not reserved; 0 when the range holds none.
    int pick() const;

    bool isReserved(int port) const;

    int first() const { return m_first; }

    int last() const { return m_last; }

private:
    int m_first = 32768;
    int m_last = 60999;
    std::vector<std::pair<int, int>> m_reserved; // inclusive ranges
};

} // namespace bw::net
