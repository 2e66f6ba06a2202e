// SPDX-License-Identifier: MIT
// The proxy the environment names for a server, read as curl reads it: `no_proxy` first, then
// `<scheme>_proxy`, then `all_proxy`, each in lower case and then upper case, except `HTTP_PROXY`,
// which is never read (a CGI program gets it from a request header). Pure functions over a
// snapshot of the variables, callable from any thread.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "net/proxy_route.h"

namespace bw::net {

// The proxy variables and their values; the names are as they were found (lower or upper case).
using ProxyVariables = std::map<std::string, std::string>;

// The proxy variables of this process, read once.
ProxyVariables proxyVariablesOfProcess();

// The `no_proxy` list of the variables ("" when none).
std::string noProxyOf(const ProxyVariables &variables);

// The variable's proxy for a URL of `scheme` ("http", "https", "ftp", "ftps", "sftp") to host:port;
// kind None when nothing is set or `noProxy` names the server. A value that is no proxy URL gives
// a route that fails to connect, saying so: a broken setting never means "go direct".
ProxyRoute proxyFromVariables(const ProxyVariables &variables, std::string_view scheme,
    const std::string &noProxy, const std::string &host, int port);

// A route that only fails, naming `text`, for a proxy setting that cannot be read.
ProxyRoute unreadableProxy(std::string_view text);

} // namespace bw::net
