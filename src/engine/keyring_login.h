// SPDX-License-Identifier: MIT
// Which keyring entry holds a URL's password, and the URL text with its password taken out or put back.
// Pure functions, callable from any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/url.h"

namespace bw::engine {

// One login: the attributes of its keyring entry (besides application = bellwick).
struct KeyringLogin
{
    std::string protocol; // "ftp", "ftps", "ftpes", "sftp", "http", "https": uploads share their download's
    std::string server;
    std::int32_t port = 0;
    std::string user;

    auto operator<=>(const KeyringLogin &) const = default;
};

// "Bellwick: user@server", the entry's label.
std::string keyringLabel(const KeyringLogin &login);

// The login of a network URL with a named user (not "anonymous"); none for local files, anonymous logins
// and text that does not parse.
std::optional<KeyringLogin> keyringLoginOf(std::string_view url);
std::optional<KeyringLogin> keyringLoginOf(const core::Url &url);

// A URL's text split into the text without its password (every other byte as it was: "ftp://bob@h/f")
// and the password as written (still escaped). None when the URL names no password or no login, or when
// the shortened text would not read back as the same login.
struct UrlWithoutPassword
{
    KeyringLogin login;
    std::string url;
    std::string password; // unescaped, what the login sends
};

std::optional<UrlWithoutPassword> splitPassword(std::string_view url);

// True when the URL text names a login whose password is not written in it: the keyring may hold it.
bool urlLacksPassword(std::string_view url);

// The URL text with `password` written in (escaped where the URL syntax needs it); the text as it was
// when it names a password already or no login.
std::string urlWithPassword(std::string_view url, std::string_view password);

} // namespace bw::engine
