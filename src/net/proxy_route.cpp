// SPDX-License-Identifier: MIT
#include "net/proxy_route.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "core/url.h"

namespace bw::net {

namespace {

// curl's default for every kind of proxy, which scripts written for curl rely on.
constexpr int kDefaultProxyPort = 1080;

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool readPort(std::string_view text, int &port)
{
    if (text.empty() || text.size() > 5)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() && port >= 1 && port <= 65535;
}

// "host", "host:port", "[v6]" or "[v6]:port" into the route; false when it is none of them.
bool readHostPort(std::string_view text, ProxyRoute &route)
{
    std::string_view portText;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos)
            return false;
        route.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return false;
        portText = rest.empty() ? rest : rest.substr(1);
        if (route.host.find(':') == std::string::npos)
            return false;
    } else {
        const auto colon = text.find(':');
        route.host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos)
            portText = text.substr(colon + 1);
    }
    if (route.host.empty() || route.host.find_first_of(" \t\r\n/\\@[]") != std::string::npos)
        return false;
    return portText.empty() || readPort(portText, route.port);
}

} // namespace

std::string ProxyRoute::address() const
{
    return core::hostForUrl(host) + ":" + std::to_string(port);
}

std::optional<ProxyRoute> parseProxyUrl(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    ProxyRoute route;
    route.kind = ProxyKind::Http;
    if (const auto separator = text.find("://"); separator != std::string_view::npos) {
        const std::string scheme = lowerCase(text.substr(0, separator));
        if (scheme == "socks5" || scheme == "socks5h") {
            route.kind = ProxyKind::Socks5;
            route.proxyResolvesNames = scheme == "socks5h";
        } else if (scheme != "http") {
            return std::nullopt;
        }
        text.remove_prefix(separator + 3);
    }
    // A trailing "/" (curl allows "http://proxy:3128/") carries nothing.
    if (const auto slash = text.find('/'); slash != std::string_view::npos) {
        if (text.find_first_not_of('/', slash) != std::string_view::npos)
            return std::nullopt;
        text = text.substr(0, slash);
    }
    if (const auto at = text.rfind('@'); at != std::string_view::npos) {
        const std::string_view login = text.substr(0, at);
        const auto colon = login.find(':');
        route.user = core::unescapeUrlPart(login.substr(0, colon));
        if (colon != std::string_view::npos)
            route.password = core::unescapeUrlPart(login.substr(colon + 1));
        text.remove_prefix(at + 1);
    }
    if (!readHostPort(text, route))
        return std::nullopt;
    if (route.port == 0)
        route.port = kDefaultProxyPort;
    return route;
}

} // namespace bw::net
