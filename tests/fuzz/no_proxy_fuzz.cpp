// SPDX-License-Identifier: MIT
// The no_proxy matcher and the proxy URL reader on any text: they never crash; a list that ends in
// "*" or names the host itself always sends it around the proxy; an accepted proxy URL has a host
// and a port the network can carry.
#include "fuzz_check.h"
#include "net/no_proxy.h"
#include "net/proxy_route.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw::net;
    const std::string_view text = bw::fuzz::bytesOf(data, size);
    const std::size_t cut = text.find('\n');
    const std::string_view list = text.substr(0, cut);
    const std::string_view host = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
    const int port = static_cast<int>(size % 65536);

    const bool bypasses = bypassesProxy(list, host, port);
    BW_FUZZ_CHECK(bypassesProxy(std::string(list) + ",*", host, port));
    // Adding entries never takes a match away.
    if (bypasses)
        BW_FUZZ_CHECK(bypassesProxy(std::string(list) + ",example.invalid", host, port));
    // A plain name lists itself.
    if (!host.empty() && host.find_first_of(", \t\r\n:/[].") == std::string_view::npos)
        BW_FUZZ_CHECK(bypassesProxy(host, host, port));

    if (const std::optional<ProxyRoute> route = parseProxyUrl(text)) {
        BW_FUZZ_CHECK(route->isSet() && !route->host.empty());
        BW_FUZZ_CHECK(route->port >= 1 && route->port <= 65535);
    }
    return 0;
}
