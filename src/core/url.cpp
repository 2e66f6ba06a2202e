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
    std::int32_t port; // -1: the scheme's default port
};

// Tested in this order, each against what the earlier ones left, so "ftp://http://x" ends as HTTP: the
// last prefix found decides the scheme and its default port alone.
constexpr std::array<Prefix, 12> kPrefixes{{
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
    {"sftp://", SchemeSftp, 22},
    {"sftpu://", SchemeSftpUpload, 22},
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

bool isHexGroup(std::string_view group)
{
    return !group.empty() && group.size() <= 4
        && std::all_of(group.begin(), group.end(), [](char c) { return hexValue(c) >= 0; });
}

bool isDottedQuad(std::string_view text)
{
    int parts = 0;
    while (true) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.empty() || part.size() > 3
            || !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })
            || leadingNumber(part) > 255)
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            return parts == 4;
        text.remove_prefix(dot + 1);
    }
}

// RFC 4291 2.2 text forms: eight groups of up to four hex digits, one "::" standing for a run of zero
// groups, and an IPv4 address in place of the last two groups.
bool isIpv6Literal(std::string_view text)
{
    const std::size_t gap = text.find("::");
    if (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos)
        return false;
    int groups = 0;
    auto countGroups = [&groups](std::string_view side, bool mayEndInQuad) {
        if (side.empty())
            return true;
        while (true) {
            const std::size_t colon = side.find(':');
            const std::string_view group = side.substr(0, colon);
            if (colon == std::string_view::npos && mayEndInQuad
                && group.find('.') != std::string_view::npos) {
                groups += 2;
                return isDottedQuad(group);
            }
            if (!isHexGroup(group))
                return false;
            ++groups;
            if (colon == std::string_view::npos)
                return true;
            side.remove_prefix(colon + 1);
        }
    };
    if (gap == std::string_view::npos)
        return countGroups(text, true) && groups == 8;
    return countGroups(text.substr(0, gap), false) && countGroups(text.substr(gap + 2), true) && groups < 8;
}

// Splits "host", "host:port", "[v6]" or "[v6]:port" (what is left after the user information and the
// path). False for an unclosed or malformed bracketed address or anything after its "]" but a port.
// Local URLs connect nowhere: there neither brackets nor the port are checked.
bool splitHostPort(std::string_view text, bool network, Url &url)
{
    std::string_view portText;
    bool hasColon = false;
    if (network && text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || !isIpv6Literal(text.substr(1, close - 1)))
            return false;
        url.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return false;
        hasColon = !rest.empty();
        portText = hasColon ? rest.substr(1) : rest;
    } else {
        const std::size_t colon = text.find(':');
        hasColon = colon != std::string_view::npos;
        url.host = std::string(text.substr(0, colon));
        portText = hasColon ? text.substr(colon + 1) : std::string_view();
    }
    // "host:" with nothing after the colon keeps the default port.
    if (hasColon && !portText.empty()) {
        url.port = leadingNumber(portText);
        // A port the network cannot carry is a typing error, never a silent wrap to another port.
        if (network && (url.port < kMinPort || url.port > kMaxPort))
            return false;
    }
    return true;
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

bool isSftpScheme(UrlScheme scheme)
{
    return scheme == SchemeSftp || scheme == SchemeSftpUpload;
}

bool isUploadScheme(UrlScheme scheme)
{
    return isFtpUploadScheme(scheme) || scheme == SchemeSftpUpload;
}

bool isRemoteSessionScheme(UrlScheme scheme)
{
    return isFtpScheme(scheme) || isSftpScheme(scheme);
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
    case SchemeSftp:
    case SchemeSftpUpload:
        return 22;
    case SchemeLocal:
        return 0;
    default:
        return 21;
    }
}

UrlScheme uploadScheme(UrlScheme scheme)
{
    switch (scheme) {
    case SchemeFtp:
        return SchemeFtpUpload;
    case SchemeFtps:
        return SchemeFtpsUpload;
    case SchemeFtpes:
        return SchemeFtpesUpload;
    case SchemeSftp:
        return SchemeSftpUpload;
    default:
        return scheme;
    }
}

UrlScheme downloadScheme(UrlScheme scheme)
{
    switch (scheme) {
    case SchemeFtpUpload:
        return SchemeFtp;
    case SchemeFtpsUpload:
        return SchemeFtps;
    case SchemeFtpesUpload:
        return SchemeFtpes;
    case SchemeSftpUpload:
        return SchemeSftp;
    default:
        return scheme;
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
            // A later prefix is read afresh: "http://ftpes://h" is FTPES on its own port, never on 80.
            url.port = prefix.port >= 0 ? prefix.port : defaultPort(prefix.scheme);
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

    if (!splitHostPort(text, url.scheme != SchemeLocal, url))
        return false;

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

std::string hostForUrl(std::string_view host)
{
    if (host.find(':') != std::string_view::npos)
        return "[" + std::string(host) + "]";
    return std::string(host);
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
        // Each of these would end the user information or start something else: "/" could make the
        // rest read as a second scheme prefix ("ftp://http://secret@h").
        if (std::string_view("%:@/?#").find(c) != std::string_view::npos) {
            constexpr std::string_view kHexDigits = "0123456789ABCDEF";
            result.push_back('%');
            result.push_back(kHexDigits[static_cast<unsigned char>(c) >> 4]);
            result.push_back(kHexDigits[static_cast<unsigned char>(c) & 15]);
        } else {
            result.push_back(c);
        }
    }
    return result;
}

} // namespace bw::core
