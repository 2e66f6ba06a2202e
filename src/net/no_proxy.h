// SPDX-License-Identifier: MIT
// The list of servers reached without the proxy, written as curl reads `no_proxy`: entries separated
// by commas or spaces, each a host name (matching that host and every name below it; a leading '.'
// changes nothing), '*' for every server, an IPv4 or IPv6 address (IPv6 optionally in brackets), or a
// CIDR range ("10.0.0.0/8", "fd00::/8"), any of them with ":port" to match that port alone. A pure
// function, callable from any thread.
#pragma once

#include <string_view>

namespace bw::net {

// True when `host` (a name or an address, IPv6 with or without brackets) at `port` is in `list`.
// Names compare without regard to case or a trailing dot; entries that mean nothing are skipped.
bool bypassesProxy(std::string_view list, std::string_view host, int port);

} // namespace bw::net
