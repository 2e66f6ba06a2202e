// SPDX-License-Identifier: MIT
#include "engine/keyring_login.h"

#include <array>

namespace bw::engine {

namespace {

// The prefixes the URL reader takes off, in its order, each against what the earlier ones left.
constexpr std::array<std::string_view, 12> kPrefixes{"ftp://", "ftpu://", "http://", "file://", "local://",
    "https://", "ftps://", "ftpes://", "ftpsu://", "ftpesu://", "sftp://", "sftpu://"};

std::size_t prefixesEnd(std::string_view text)
{
    std::size_t end = 0;
    for (const std::string_view prefix : kPrefixes) {
        if (text.substr(end).starts_with(prefix))
            end += prefix.size();
    }
    return end;
}

std::string protocolOf(core::UrlScheme scheme)
{
    std::string_view prefix = core::schemePrefix(core::downloadScheme(scheme));
    prefix.remove_suffix(std::min<std::size_t>(prefix.size(), 3)); // "://"
    return std::string(prefix);
}

bool sameLoginAndPlace(const core::Url &a, const core::Url &b)
{
    return a.scheme == b.scheme && a.host == b.host && a.port == b.port && a.user == b.user
        && a.path == b.path && a.fileName == b.fileName;
}

} // namespace

std::string keyringLabel(const KeyringLogin &login)
{
    return "Bellwick: " + login.user + "@" + login.server;
}

std::optional<KeyringLogin> keyringLoginOf(const core::Url &url)
{
    const bool network = url.scheme != core::SchemeNone && url.scheme != core::SchemeLocal
        && !core::schemePrefix(url.scheme).empty();
    if (!network || url.host.empty() || url.user.empty() || url.user == core::kAnonymousUser)
        return std::nullopt;
    return KeyringLogin{protocolOf(url.scheme), url.host, url.port, url.user};
}

std::optional<KeyringLogin> keyringLoginOf(std::string_view text)
{
    core::Url url;
    if (!core::parseUrl(text, url))
        return std::nullopt;
    return keyringLoginOf(url);
}

std::optional<UrlWithoutPassword> splitPassword(std::string_view text)
{
    core::Url url;
    if (!core::parseUrl(text, url))
        return std::nullopt;
    const std::optional<KeyringLogin> login = keyringLoginOf(url);
    const std::size_t at = text.rfind('@');
    const std::size_t infoStart = prefixesEnd(text);
    if (!login || at == std::string_view::npos || at < infoStart)
        return std::nullopt;
    const std::size_t colon = text.substr(infoStart, at - infoStart).find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    std::string shortened(text.substr(0, infoStart + colon));
    shortened += text.substr(at);
    // Only when the text reads back as the same login and place: otherwise the file keeps the password.
    core::Url check;
    if (!core::parseUrl(shortened, check) || !sameLoginAndPlace(url, check)
        || check.password != core::kDefaultAnonymousPassword)
        return std::nullopt;
    return UrlWithoutPassword{*login, std::move(shortened), url.password};
}

bool urlLacksPassword(std::string_view text)
{
    core::Url url;
    return core::parseUrl(text, url) && keyringLoginOf(url)
        && url.password == core::kDefaultAnonymousPassword;
}

std::string urlWithPassword(std::string_view text, std::string_view password)
{
    const std::size_t at = text.rfind('@');
    if (!urlLacksPassword(text) || at == std::string_view::npos || at < prefixesEnd(text))
        return std::string(text);
    std::string written(text.substr(0, at));
    written += ':';
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : password) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte >= 0x7F || std::string_view("%:@/\\?#").find(c) != std::string_view::npos) {
            written += '%';
            written += kHex[byte >> 4];
            written += kHex[byte & 0x0F];
        } else {
            written += c;
        }
    }
    written += text.substr(at);
    return written;
}

} // namespace bw::engine
