// SPDX-License-Identifier: MIT
// The login of one HTTP download: what goes with each request to its server and what a 401 answer
// means. One per attempt, on the job's thread; the servers that asked for Basic are remembered for the
// run across all jobs.
#pragma once

#include <string>
#include <vector>

#include "core/queue_item.h"
#include "core/url.h"
#include "net/http_auth.h"

namespace bw::engine {

class HttpLogin
{
public:
    // `origin` names the server ("http://host:port"); an empty user means no login.
    HttpLogin(std::string origin, std::string user, std::string password);

    bool hasLogin() const { return !m_user.empty(); }

    // The Authorization value of the first request: Basic at once for a server that asked this user
    // for Basic earlier in the run, otherwise none (a login is never offered unasked).
    std::string firstAuthorization();

    enum class Answer
    {
        NoLogin, // nothing to answer with: the 401 stands
        Retry, // send the request again with `authorization`
        Refused, // the login went with the request and was turned down
    };

    // After a 401 with these WWW-Authenticate values to a request for `uri`.
    Answer answer(
        const std::vector<std::string> &challenges, const std::string &uri, std::string &authorization);

    // "Basic", "Digest (SHA-256)": what the last answer used, for the log.
    std::string lastKindText() const;

private:
    std::string m_origin;
    std::string m_user;
    std::string m_password;
    net::HttpAuthKind m_sentKind = net::HttpAuthKind::None; // what went with the last request
    bool m_staleRetried = false;
};

// The URL to queue for a redirect of `item` to `target` (parsed as `parsedTarget`): on the same host and
// port, with the item's login when the target names none; to another server, as it is.
std::string redirectUrlWithLogin(
    const core::QueueItem &item, const core::Url &parsedTarget, const std::string &target);

} // namespace bw::engine
