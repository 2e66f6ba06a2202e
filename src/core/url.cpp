// SPDX-License-Identifier: MIT
#include "core/url.h"

#include <algorithm>
#include <array>
#include <limits>

namespace bw::core {

namespace {

struct Prefix
{
    std::string_view text;
    UrlScheme scheme;
    std::int32_t port; // -1 keeps the port as it is
};

// Tested in this order, each against what the earlier ones left, so "ftp://http://x" ends as HTTP.
constexpr std::array<Prefix, 10> kPrefixes{{
    {"ftp://", SchemeFtp, -1},
    {"ftpu://", SchemeFtpUpload, -1},
    {"http://", SchemeHttp, 80},
    {"file://", SchemeLocal, 0},
    {"local://", SchemeLocal, 0},
    {"https://", SchemeHttps, 443},
    {"ftps://", SchemeFtps, 990},
    {"ftpes://", SchemeFtpes, -1},
    {"ftpsu://", SchemeFtpsUpload, 990},
    {"ftpesu://", SchemeFtpesUpload, -1},
}};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr std::int32_t kMinPort = 1;
constexpr std::int32_t kMaxPort = 65535;

// The leading decimal digits of `text`; no digits give 0, and a number past the 32-bit range stops
// growing rather than overflowing.
std::int32_t leadingNumber(std::string_view text)
{
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = std::min<std::int64_t>(value * 10 + (c - '0'), std::numeric_limits<std::int32_t>::max());
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

bool isFtpScheme(UrlScheme scheme)
{
    return scheme == SchemeFtp || scheme == SchemeFtps || scheme == SchemeFtpes || isFtpUploadScheme(scheme);
}

bool isFtpUploadScheme(UrlScheme scheme)
{
    return scheme == SchemeFtpUpload || scheme == SchemeFtpsUpload || scheme == SchemeFtpesUpload;
}

bool isHttpScheme(UrlScheme scheme)
{
    return scheme == SchemeHttp || scheme == SchemeHttps;
}

bool isTlsScheme(UrlScheme scheme)
{
    return scheme == SchemeHttps || scheme == SchemeFtps || scheme == SchemeFtpes
        || scheme == SchemeFtpsUpload || scheme == SchemeFtpesUpload;
}

bool isImplicitTlsScheme(UrlScheme scheme)
{
    return scheme == SchemeHttps || scheme == SchemeFtps || scheme == SchemeFtpsUpload;
}

std::int32_t defaultPort(UrlScheme scheme)
{
    switch (scheme) {
    case SchemeHttp:
        return 80;
    case SchemeHttps:
        return 443;
    case SchemeFtps:
    case SchemeFtpsUpload:
        return 990;
    case SchemeLocal:
        return 0;
    default:
        return 21;
    }
}

std::string_view schemePrefix(UrlScheme scheme)
{
    for (const Prefix &prefix : kPrefixes) {
        if (prefix.scheme == scheme)
            return prefix.text;
    }
    return {};
}

bool parseUrl(std::string_view input, Url &url)
{
    url = Url{};
    bool ok = false;
    std::string text(input);
    for (const Prefix &prefix : kPrefixes) {
        if (text.compare(0, prefix.text.size(), prefix.text) == 0) {
            text.erase(0, prefix.text.size());
            ok = true;
            url.scheme = prefix.scheme;
            if (prefix.port >= 0)
                url.port = prefix.port;
        }
    }
    if (!ok) {
        url.host = text;
        return false;
    }

    if (std::size_t at = text.rfind('@'); at != std::string::npos) {
        std::string info = text.substr(0, at);
        std::size_t colon = info.find(':');
        if (colon == std::string::npos) {
            url.user = info;
        } else {
            // "user:@host" (what a site with an empty password turns into) means that empty password,
            // not a user name ending in ":".
            url.password = info.substr(colon + 1);
            url.user = info.substr(0, colon);
        }
        if (at + 1 == text.size())
            return false;
        text.erase(0, at + 1);
    }

    std::replace(text.begin(), text.end(), '\\', '/');

    if (std::size_t slash = text.find('/'); slash != std::string::npos) {
        if (url.scheme == SchemeLocal) {
            url.path = text;
            text.clear();
        } else {
            std::size_t first = text.find_first_not_of('/', slash);
            url.path = "/" + (first == std::string::npos ? std::string() : text.substr(first));
            text.erase(slash);
        }
        std::size_t last = url.path.rfind('/');
        if (last != std::string::npos && last + 1 < url.path.size()) {
            url.fileName = url.path.substr(last + 1);
            url.path.erase(last + 1);
        }
    }

    if (std::size_t colon = text.find(':'); colon != std::string::npos) {
        if (colon + 1 < text.size()) {
            url.port = leadingNumber(std::string_view(text).substr(colon + 1));
            // A port the network cannot carry is a typing error, never a silent wrap to another port.
            // Local URLs connect nowhere: whatever follows a colon there is not checked.
            if (url.scheme != SchemeLocal && (url.port < kMinPort || url.port > kMaxPort))
                return false;
        }
        // "host:" with nothing after the colon keeps the default port and names the host "host".
        text.erase(colon);
    }

    url.host = text;
    url.user = unescapeUrlPart(url.user);
    url.password = unescapeUrlPart(url.password);
    url.path = unescapeUrlPart(url.path);
    url.fileName = unescapeUrlPart(url.fileName);
    return true;
}

std::string unescapeUrlPart(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
            && hexValue(text[i + 2]) >= 0) {
            int value = hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]);
            // A NUL byte would cut the name short wherever it reaches the file system: keep "%00".
            if (value != 0) {
                result.push_back(static_cast<char>(value));
                i += 2;
                continue;
            }
        }
        result.push_back(text[i]);
    }
    return result;
}

std::string escapeAt(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c == '@')
            result += "%40";
        else
            result.push_back(c);
    }
    return result;
}

std::string escapeUserInfo(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c == '%')
            result += "%25";
        else if (c == ':')
            result += "%3A";
        else if (c == '@')
            result += "%40";
        else
            result.push_back(c);
    }
    return result;
}

} // namespace bw::core
