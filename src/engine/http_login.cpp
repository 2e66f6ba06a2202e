// SPDX-License-Identifier: MIT
#include "engine/http_login.h"

#include <mutex>
#include <set>
#include <utility>

#include <strings.h>

namespace bw::engine {

namespace {

// Server and user pairs that were asked for Basic in this run. Shared by all jobs.
std::mutex g_basicMutex;
std::set<std::pair<std::string, std::string>> g_basicServers; // guarded by g_basicMutex

bool askedForBasic(const std::string &origin, const std::string &user)
{
    std::lock_guard lock{g_basicMutex};
    return g_basicServers.contains({origin, user});
}

void rememberBasic(const std::string &origin, const std::string &user)
{
    std::lock_guard lock{g_basicMutex};
    g_basicServers.emplace(origin, user);
}

bool isStale(const net::ChosenChallenge &chosen)
{
    const auto it = chosen.challenge.params.find("stale");
    return it != chosen.challenge.params.end() && ::strcasecmp(it->second.c_str(), "true") == 0;
}

} // namespace

HttpLogin::HttpLogin(std::string origin, std::string user, std::string password)
    : m_origin(std::move(origin))
    , m_user(std::move(user))
    , m_password(std::move(password))
{}

std::string HttpLogin::firstAuthorization()
{
    if (!hasLogin() || !askedForBasic(m_origin, m_user))
        return {};
    m_sentKind = net::HttpAuthKind::Basic;
    return net::basicAuthorization(m_user, m_password);
}

HttpLogin::Answer HttpLogin::answer(
    const std::vector<std::string> &challenges, const std::string &uri, std::string &authorization)
{
    if (!hasLogin())
        return Answer::NoLogin;
    const net::ChosenChallenge chosen = net::strongestChallenge(challenges);
    const net::HttpAuthKind sent = std::exchange(m_sentKind, net::HttpAuthKind::None);
    // RFC 7616 3.3: "stale=true" turns down the nonce, not the login: answer the new nonce once.
    const bool staleNonce = sent == chosen.kind && sent != net::HttpAuthKind::Basic && isStale(chosen)
        && !std::exchange(m_staleRetried, true);
    // Our login went with the request and the server wants nothing better: it was refused. A Basic
    // sent at once may still meet a Digest challenge, which is then answered.
    if (sent != net::HttpAuthKind::None && chosen.kind <= sent && !staleNonce)
        return Answer::Refused;
    if (chosen.kind == net::HttpAuthKind::None)
        return Answer::NoLogin;
    if (chosen.kind == net::HttpAuthKind::Basic) {
        rememberBasic(m_origin, m_user);
        authorization = net::basicAuthorization(m_user, m_password);
    } else {
        authorization =
            net::digestAuthorization(chosen, m_user, m_password, {"GET", uri, net::newClientNonce(), 1});
        if (authorization.empty())
            return Answer::NoLogin;
    }
    m_sentKind = chosen.kind;
    return Answer::Retry;
}

std::string HttpLogin::lastKindText() const
{
    switch (m_sentKind) {
    case net::HttpAuthKind::Basic:
        return "Basic";
    case net::HttpAuthKind::DigestMd5:
        return "Digest (MD5)";
    case net::HttpAuthKind::DigestSha256:
        return "Digest (SHA-256)";
    case net::HttpAuthKind::None:
        break;
    }
    return {};
}

std::string redirectUrlWithLogin(
    const core::QueueItem &item, const core::Url &parsedTarget, const std::string &target)
{
    const auto hasLogin = [](const std::string &user, const std::string &password) {
        return user != core::kAnonymousUser || password != core::kDefaultAnonymousPassword;
    };
    const std::size_t authority = target.find("://");
    if (!core::isHttpScheme(parsedTarget.scheme) || parsedTarget.host != item.host
        || parsedTarget.port != item.port || hasLogin(parsedTarget.user, parsedTarget.password)
        || !hasLogin(item.user, item.password) || authority == std::string::npos)
        return target;
    return target.substr(0, authority + 3) + core::escapeUserInfo(item.user) + ":"
        + core::escapeUserInfo(item.password) + "@" + target.substr(authority + 3);
}

} // namespace bw::engine
