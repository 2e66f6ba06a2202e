// SPDX-License-Identifier: MIT
#include "net/proxy_environment.h"

#include <cstdlib>

#include "net/no_proxy.h"

namespace bw::net {

namespace {

std::string upperCase(std::string text)
{
    for (char &c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The value of the lower-case name, else of the upper-case one (unless told not to); "" for neither.
std::string lookUp(const ProxyVariables &variables, const std::string &lowerName, bool upperToo = true)
{
    if (const auto found = variables.find(lowerName); found != variables.end() && !found->second.empty())
        return found->second;
    if (!upperToo)
        return {};
    const auto found = variables.find(upperCase(lowerName));
    return found == variables.end() ? std::string() : found->second;
}

} // namespace

ProxyVariables proxyVariablesOfProcess()
{
    ProxyVariables variables;
    for (const char *name :
        {"http_proxy", "https_proxy", "ftp_proxy", "ftps_proxy", "sftp_proxy", "all_proxy", "no_proxy",
            "HTTPS_PROXY", "FTP_PROXY", "FTPS_PROXY", "SFTP_PROXY", "ALL_PROXY", "NO_PROXY"}) {
        if (const char *value = std::getenv(name))
            variables[name] = value;
    }
    return variables;
}

std::string noProxyOf(const ProxyVariables &variables)
{
    return lookUp(variables, "no_proxy");
}

ProxyRoute unreadableProxy(std::string_view text)
{
    ProxyRoute route;
    route.kind = ProxyKind::Http;
    route.host = std::string(text);
    route.port = 0; // connectToProxy names such a route instead of connecting
    return route;
}

ProxyRoute proxyFromVariables(const ProxyVariables &variables, std::string_view scheme,
    const std::string &noProxy, const std::string &host, int port)
{
    if (bypassesProxy(noProxy, host, port))
        return {};
    const std::string lowerName = std::string(scheme) + "_proxy";
    std::string value = lookUp(variables, lowerName, scheme != "http");
    if (value.empty())
        value = lookUp(variables, "all_proxy");
    if (value.empty())
        return {};
    if (std::optional<ProxyRoute> route = parseProxyUrl(value))
        return *route;
    return unreadableProxy(value);
}

} // namespace bw::net
