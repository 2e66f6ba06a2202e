// SPDX-License-Identifier: MIT
#include "net/host_addresses.h"

#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

namespace bw::net {

namespace {

void appendAddresses(const std::string &host, int port, int flags, std::vector<SocketAddress> &out)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    const std::string service = std::to_string(port);
    addrinfo *answer = nullptr;
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &answer) != 0)
        return;
    for (const addrinfo *entry = answer; entry; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            || entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        SocketAddress address;
        std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        out.push_back(address);
    }
    ::freeaddrinfo(answer);
}

} // namespace

std::vector<SocketAddress> resolveHost(const std::string &host, int port, HostResolver resolver)
{
    std::string name = host;
    // A host copied from a URL may keep the brackets of its IPv6 address.
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    std::vector<SocketAddress> addresses;
    if (name.empty())
        return addresses;
    if (!resolver) {
        appendAddresses(name, port, 0, addresses);
        return addresses;
    }
    for (const std::string &numeric : resolver(name))
        appendAddresses(numeric, port, AI_NUMERICHOST, addresses);
    return addresses;
}

bool addressText(const sockaddr *address, std::string &text, int &port)
{
    char buffer[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(address);
        ::inet_ntop(AF_INET, &v4->sin_addr, buffer, sizeof buffer);
        port = ntohs(v4->sin_port);
    } else if (address->sa_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, buffer, sizeof buffer);
        port = ntohs(v6->sin6_port);
    } else {
        return false;
    }
    text = buffer;
    return true;
}

} // namespace bw::net
