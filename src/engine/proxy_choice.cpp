// SPDX-License-Identifier: MIT
#include "engine/proxy_choice.h"

#include "engine/settings.h"
#include "net/no_proxy.h"

namespace bw::engine {

ProxySettings loadProxySettings(const SettingsStore &store)
{
    ProxySettings s;
    const int mode = store.readInt(kOptionsGroup, "ProxyMode", static_cast<int>(s.mode));
    s.mode = mode >= 0 && mode <= 2 ? static_cast<ProxyMode>(mode) : ProxyMode::Environment;
    const int kind = store.readInt(kOptionsGroup, "ProxyType", static_cast<int>(net::ProxyKind::Http));
    s.manual.kind =
        kind == static_cast<int>(net::ProxyKind::Socks5) ? net::ProxyKind::Socks5 : net::ProxyKind::Http;
    s.manual.host = store.readString(kOptionsGroup, "ProxyHost", {});
    s.manual.port = store.readInt(kOptionsGroup, "ProxyPort", 1080);
    s.manual.user = store.readString(kOptionsGroup, "ProxyUser", {});
    s.manual.password = store.readString(kOptionsGroup, "ProxyPassword", {});
    return s;
}

void saveProxySettings(SettingsStore &store, const ProxySettings &s)
{
    store.writeInt(kOptionsGroup, "ProxyMode", static_cast<int>(s.mode));
    store.writeInt(kOptionsGroup, "ProxyType", static_cast<int>(s.manual.kind));
    store.writeString(kOptionsGroup, "ProxyHost", s.manual.host);
    store.writeInt(kOptionsGroup, "ProxyPort", s.manual.port);
    store.writeString(kOptionsGroup, "ProxyUser", s.manual.user);
    store.writeString(kOptionsGroup, "ProxyPassword", s.manual.password);
}

std::string proxySchemeName(core::UrlScheme scheme)
{
    if (core::isSftpScheme(scheme))
        return "sftp";
    if (core::isFtpScheme(scheme))
        return core::isImplicitTlsScheme(scheme) ? "ftps" : "ftp";
    return scheme == core::SchemeHttps ? "https" : "http";
}

ProxyChoice::ProxyChoice(net::ProxyVariables variables)
    : m_variables(std::move(variables))
{}

void ProxyChoice::setSettings(const ProxySettings &settings)
{
    std::lock_guard lock{m_mutex};
    m_settings = settings;
}

ProxySettings ProxyChoice::settings() const
{
    std::lock_guard lock{m_mutex};
    return m_settings;
}

void ProxyChoice::setOverride(std::optional<std::string> proxy, std::optional<std::string> noProxy)
{
    std::lock_guard lock{m_mutex};
    if (proxy)
        m_proxyOverride = std::move(proxy);
    if (noProxy)
        m_noProxyOverride = std::move(noProxy);
}

net::ProxyRoute ProxyChoice::routeFor(core::UrlScheme scheme, const std::string &host, int port) const
{
    std::unique_lock lock{m_mutex};
    const ProxySettings settings = m_settings;
    const std::optional<std::string> proxyOverride = m_proxyOverride;
    // The environment's no_proxy goes with the environment's proxies (and, as curl has it, with one
    // given for the run); a proxy the user named in Options serves every server unless told otherwise.
    const bool fromEnvironment = proxyOverride || settings.mode == ProxyMode::Environment;
    const std::string noProxy =
        m_noProxyOverride.value_or(fromEnvironment ? net::noProxyOf(m_variables) : "");
    lock.unlock();
    if (net::bypassesProxy(noProxy, host, port))
        return {};
    if (proxyOverride) {
        if (proxyOverride->empty())
            return {};
        const std::optional<net::ProxyRoute> route = net::parseProxyUrl(*proxyOverride);
        return route ? *route : net::unreadableProxy(*proxyOverride);
    }
    switch (settings.mode) {
    case ProxyMode::None:
        return {};
    case ProxyMode::Manual:
        if (settings.manual.host.empty() || settings.manual.port <= 0)
            return net::unreadableProxy(settings.manual.host);
        return settings.manual;
    case ProxyMode::Environment:
        break;
    }
    return net::proxyFromVariables(m_variables, proxySchemeName(scheme), noProxy, host, port);
}

} // namespace bw::engine
