// SPDX-License-Identifier: MIT
// Turns a host name or address into every socket address it stands for, and socket addresses back
// into text. Pure look-ups with no socket of their own; callable from any thread.
#pragma once

#include <string>
#include <vector>

#include <sys/socket.h>

namespace bw::net {

struct SocketAddress
{
    sockaddr_storage storage{};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }

    const sockaddr *data() const { return reinterpret_cast<const sockaddr *>(&storage); }
};

// Replaces the name look-up in tests: gives the numeric addresses a host stands for, in order.
using HostResolver = std::vector<std::string> (*)(const std::string &host);

// Every IPv6 and IPv4 address of `host` (a name, a dotted address, or an IPv6 address with or without
// brackets) with `port`, in the resolver's order; empty when the host is unknown.
std::vector<SocketAddress> resolveHost(const std::string &host, int port, HostResolver resolver = nullptr);

// The numeric text of an address ("::1", "192.0.2.7") and its port; false for another family.
bool addressText(const sockaddr *address, std::string &text, int &port);

} // namespace bw::net
