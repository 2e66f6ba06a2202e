// SPDX-License-Identifier: MIT
// Which proxy each connection takes: the Options page's choice (none, the environment's, or one the
// user names), with bellwick-cli's --proxy and --noproxy over it for one run. The window's thread
// changes it; any job's thread asks it for a route at every connect.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "core/url.h"
#include "engine/settings_store.h"
#include "net/proxy_environment.h"
#include "net/proxy_route.h"

namespace bw::engine {

enum class ProxyMode : int
{
    None = 0,
    Environment = 1, // http_proxy, https_proxy, ftp_proxy, all_proxy, no_proxy as curl reads them
    Manual = 2,
};

struct ProxySettings
{
    ProxyMode mode = ProxyMode::Environment; // "Options/ProxyMode"
    // Manual: "Options/ProxyType" (1 HTTP, 2 SOCKS5), "Options/ProxyHost", "Options/ProxyPort",
    // "Options/ProxyUser", "Options/ProxyPassword". SOCKS5 lets the proxy resolve names.
    net::ProxyRoute manual{net::ProxyKind::Http, {}, 1080};

    bool operator==(const ProxySettings &) const = default;
};

ProxySettings loadProxySettings(const SettingsStore &store);
void saveProxySettings(SettingsStore &store, const ProxySettings &settings);

// The name a scheme's proxy variable starts with: "http", "https", "ftp" (ftpes too), "ftps", "sftp".
std::string proxySchemeName(core::UrlScheme scheme);

class ProxyChoice
{
public:
    explicit ProxyChoice(net::ProxyVariables variables = net::proxyVariablesOfProcess());

    void setSettings(const ProxySettings &settings);
    ProxySettings settings() const;
    // bellwick-cli: `proxy` replaces the settings' proxy ("" for none), `noProxy` the environment's
    // no_proxy list; nullopt keeps what there is.
    void setOverride(std::optional<std::string> proxy, std::optional<std::string> noProxy);

    // The route to host:port for a URL of `scheme`.
    net::ProxyRoute routeFor(core::UrlScheme scheme, const std::string &host, int port) const;

private:
    const net::ProxyVariables m_variables;
    mutable std::mutex m_mutex;
    ProxySettings m_settings; // guarded by m_mutex
    std::optional<std::string> m_proxyOverride; // guarded by m_mutex
    std::optional<std::string> m_noProxyOverride; // guarded by m_mutex
};

} // namespace bw::engine
