// SPDX-License-Identifier: MIT
#include "net/listen_ports.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace bw::net {

namespace {

std::string readProcFile(const char *path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A decimal number at the front of `text` (after blanks), advancing past it.
bool takeNumber(std::string_view &text, int &value)
{
    const auto start = text.find_first_not_of(" \t\n");
    if (start == std::string_view::npos)
        return false;
    text.remove_prefix(start);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc())
        return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

} // namespace

const ListenPorts &ListenPorts::system()
{
    static const ListenPorts ports(readProcFile("/proc/sys/net/ipv4/ip_local_port_range"),
        readProcFile("/proc/sys/net/ipv4/ip_local_reserved_ports"));
    return ports;
}

ListenPorts::ListenPorts(std::string_view range, std::string_view reserved)
{
    int first = 0;
    int last = 0;
    if (takeNumber(range, first) && takeNumber(range, last) && first >= 1 && first <= last && last <= 65535) {
        m_first = first;
        m_last = last;
    }
    // "8080,9000-9010": single ports and ranges, comma-separated.
    while (!reserved.empty()) {
        const std::size_t comma = reserved.find(',');
        std::string_view item = reserved.substr(0, comma);
        reserved.remove_prefix(comma == std::string_view::npos ? reserved.size() : comma + 1);
        int low = 0;
        if (!takeNumber(item, low))
            continue;
        int high = low;
        if (!item.empty() && item.front() == '-') {
            item.remove_prefix(1);
            if (!takeNumber(item, high))
                continue;
        }
        if (low <= high)
            m_reserved.emplace_back(low, high);
    }
}

bool ListenPorts::isReserved(int port) const
{
    return std::any_of(m_reserved.begin(), m_reserved.end(),
        [port](const std::pair<int, int> &r) { return port >= r.first && port <= r.second; });
}

int ListenPorts::pick() const
{
    thread_local std::minstd_rand random{std::random_device{}()};
    std::uniform_int_distribution<int> any(m_first, m_last);
    // A few draws find a free one unless nearly the whole range is reserved.
    for (int draw = 0; draw < 16; ++draw) {
        const int port = any(random);
        if (!isReserved(port))
            return port;
    }
    return 0;
}

} // namespace bw::net
