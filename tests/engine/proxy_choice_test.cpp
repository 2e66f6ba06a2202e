// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "engine/memory_settings_store.h"
#include "engine/proxy_choice.h"

namespace bw::engine {
namespace {

struct ChoiceCase
{
    const char *name;
    ProxyMode mode;
    std::optional<std::string> proxyOverride;
    std::optional<std::string> noProxyOverride;
    const char *host;
    std::string expectedHost; // "" for straight to the server
};

TEST(ProxyChoice, OptionsEnvironmentAndRunOverridesInTheirOrder)
{
    // The environment names one proxy and sends .intra around it.
    const net::ProxyVariables environment{{"all_proxy", "env:1"}, {"no_proxy", ".intra"}};
    ProxySettings manual;
    manual.manual = {net::ProxyKind::Socks5, "manual", 1080};
    const ChoiceCase cases[] = {
        {"the environment by default", ProxyMode::Environment, {}, {}, "h", "env"},
        {"its no_proxy", ProxyMode::Environment, {}, {}, "a.intra", ""},
        {"none in Options", ProxyMode::None, {}, {}, "h", ""},
        {"manual in Options", ProxyMode::Manual, {}, {}, "h", "manual"},
        {"manual ignores the environment's no_proxy", ProxyMode::Manual, {}, {}, "a.intra", "manual"},
        {"--noproxy over manual", ProxyMode::Manual, {}, "h", "h", ""},
        {"--proxy over Options", ProxyMode::None, "http://run:3128", {}, "h", "run"},
        {"--proxy keeps no_proxy", ProxyMode::None, "http://run:3128", {}, "a.intra", ""},
        {"--noproxy replaces no_proxy", ProxyMode::Environment, {}, "other", "a.intra", "env"},
        {"--proxy \"\" for none", ProxyMode::Manual, "", {}, "h", ""},
    };
    for (const ChoiceCase &c : cases) {
        ProxyChoice choice{environment};
        ProxySettings settings = manual;
        settings.mode = c.mode;
        choice.setSettings(settings);
        choice.setOverride(c.proxyOverride, c.noProxyOverride);
        EXPECT_EQ(choice.routeFor(core::SchemeHttp, c.host, 80).host, c.expectedHost) << c.name;
    }
}

TEST(ProxyChoice, SettingsSurviveTheStore)
{
    MemorySettingsStore store;
    EXPECT_EQ(loadProxySettings(store).mode, ProxyMode::Environment);
    ProxySettings settings;
    settings.mode = ProxyMode::Manual;
    settings.manual = {net::ProxyKind::Socks5, "proxy.example", 1081, "u", "p"};
    saveProxySettings(store, settings);
    EXPECT_EQ(loadProxySettings(store), settings);
}

} // namespace
} // namespace bw::engine
