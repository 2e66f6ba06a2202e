// SPDX-License-Identifier: MIT
#include "net/no_proxy.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include <arpa/inet.h>

namespace bw::net {

namespace {

// An address as 16 bytes (IPv4 in the first 4) and how many of its bits count.
struct IpAddress
{
    std::array<std::uint8_t, 16> bytes{};
    int bits = 0; // 32 for IPv4, 128 for IPv6
};

std::optional<IpAddress> parseIp(std::string_view text)
{
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > 45)
        return std::nullopt;
    const std::string copy(text);
    IpAddress address;
    if (::inet_pton(AF_INET, copy.c_str(), address.bytes.data()) == 1)
        address.bits = 32;
    else if (::inet_pton(AF_INET6, copy.c_str(), address.bytes.data()) == 1)
        address.bits = 128;
    else
        return std::nullopt;
    return address;
}

bool sameLeadingBits(const IpAddress &a, const IpAddress &b, int bits)
{
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        const int mask = bits >= 8 ? 0xFF : (0xFF << (8 - bits)) & 0xFF;
        if ((a.bytes[static_cast<std::size_t>(i)] & mask) != (b.bytes[static_cast<std::size_t>(i)] & mask))
            return false;
    }
    return true;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string_view withoutTrailingDot(std::string_view name)
{
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    return name;
}

// "example.org" matches itself and "www.example.org", never "badexample.org".
bool nameMatches(std::string_view pattern, std::string_view host)
{
    pattern = withoutTrailingDot(pattern);
    if (pattern.starts_with('.'))
        pattern.remove_prefix(1);
    host = withoutTrailingDot(host);
    if (pattern.empty())
        return false;
    if (host.size() == pattern.size())
        return equalNoCase(host, pattern);
    return host.size() > pattern.size() && host[host.size() - pattern.size() - 1] == '.'
        && equalNoCase(host.substr(host.size() - pattern.size()), pattern);
}

// Splits ":port" off an entry; false when what follows the colon is no port. An IPv6 address has
// colons of its own, so its port needs brackets ("[::1]:8080").
bool splitPort(std::string_view &entry, std::optional<int> &port)
{
    std::size_t colon = std::string_view::npos;
    if (entry.starts_with('[')) {
        const auto close = entry.find(']');
        if (close != std::string_view::npos && close + 1 < entry.size() && entry[close + 1] == ':')
            colon = close + 1;
    } else if (entry.find(':') == entry.rfind(':')) {
        colon = entry.find(':');
    }
    if (colon == std::string_view::npos)
        return true;
    const std::string_view digits = entry.substr(colon + 1);
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value < 1
        || value > 65535)
        return false;
    port = value;
    entry = entry.substr(0, colon);
    return true;
}

bool entryMatches(
    std::string_view entry, std::string_view host, const std::optional<IpAddress> &hostIp, int port)
{
    std::optional<int> entryPort;
    if (!splitPort(entry, entryPort) || entry.empty())
        return false;
    if (entryPort && *entryPort != port)
        return false;
    if (entry == "*")
        return true;
    if (const auto slash = entry.find('/'); slash != std::string_view::npos) {
        const std::optional<IpAddress> network = parseIp(entry.substr(0, slash));
        const std::string_view lengthText = entry.substr(slash + 1);
        int length = -1;
        const auto [end, error] =
            std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
        if (!network || !hostIp || network->bits != hostIp->bits || error != std::errc()
            || end != lengthText.data() + lengthText.size() || length < 0 || length > network->bits)
            return false;
        return sameLeadingBits(*network, *hostIp, length);
    }
    if (const std::optional<IpAddress> address = parseIp(entry))
        return hostIp && address->bits == hostIp->bits && address->bytes == hostIp->bytes;
    // A name never matches an address: "1.2.3.4" is not below "3.4".
    return !hostIp && nameMatches(entry, host);
}

} // namespace

bool bypassesProxy(std::string_view list, std::string_view host, int port)
{
    const std::optional<IpAddress> hostIp = parseIp(host);
    constexpr std::string_view kSeparators = ", \t\r\n";
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t end = std::min(list.find_first_of(kSeparators, start), list.size());
        if (end > start && entryMatches(list.substr(start, end - start), host, hostIp, port))
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace bw::net
