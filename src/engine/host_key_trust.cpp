// SPDX-License-Identifier: MIT
#include "engine/host_key_trust.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "net/sftp_session.h"

namespace bw::engine {

namespace {

constexpr std::string_view kSha256Prefix = "SHA256:";

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

std::optional<UnknownHostKey> unknownHostKeyOfDetail(const std::string &detail)
{
    const std::string_view prefix = kHostKeyUnknownPrefix;
    // A changed key is never trusted from a detail: the old line has to go first.
    if (!detail.starts_with(prefix) || lowered(detail).find("changed") != std::string::npos)
        return std::nullopt;
    std::string_view rest = std::string_view(detail).substr(prefix.size());
    const std::size_t end = std::min(rest.find(' '), rest.size());
    UnknownHostKey key{std::string(rest.substr(0, end)), {}};
    if (!key.sha256.starts_with(kSha256Prefix) || key.sha256.size() == kSha256Prefix.size())
        return std::nullopt;
    rest.remove_prefix(end);
    if (rest.starts_with(" (") && rest.ends_with(')') && rest.size() > 3)
        key.keyType = std::string(rest.substr(2, rest.size() - 3));
    return key;
}

bool isHostKeyRefusal(const std::string &detail)
{
    return lowered(detail).find("host key") != std::string::npos;
}

bool trustHostKey(const std::string &host, int port, const std::string &user,
    const std::string &expectedSha256, std::string &error)
{
    return net::trustHostKey(net::RemoteSite{host, port, user, {}, 0}, expectedSha256, error);
}

} // namespace bw::engine
