// SPDX-License-Identifier: MIT
// The login steps of a transfer job: which login a site gets, and answering an HTTP server's 401.
#include "core/queue_list.h"
#include "core/url.h"
#include "engine/http_login.h"
#include "engine/transfer_job.h"
#include "net/error_code.h"
#include "net/http_connection.h"

namespace bw::engine {

namespace {

constexpr int kUnauthorized = 401;

} // namespace

SiteLogin TransferJob::loginOfSelectedSite(bool allowNetrcDefault)
{
    SiteLogin login = siteLogin(
        m_timing.netrcPath, m_selected.host, m_selected.user, m_selected.password, allowNetrcDefault);
    if (!login.warning.empty())
        status(login.warning);
    return login;
}

bool TransferJob::downloadWithLogin(
    int id, const core::QueueItem &item, const std::string &writePath, const std::string &target)
{
    SiteLogin login = loginOfSelectedSite(true);
    const bool anonymous =
        login.user == core::kAnonymousUser && login.password == core::kDefaultAnonymousPassword;
    // Each server is its own: a login goes only to the server of its URL (a redirect to another one is a
    // new item, with its own URL).
    HttpLogin http{std::string(core::schemePrefix(item.scheme)) + core::hostForUrl(m_selected.host) + ":"
            + std::to_string(m_selected.port),
        anonymous ? std::string() : login.user, login.password};
    m_http->setAuthorization(http.firstAuthorization());
    bool ok = m_http->download(writePath, target);
    while (!ok && m_http->error().status() == kUnauthorized && !stoppedMidway(id)) {
        std::string authorization;
        const HttpLogin::Answer answer = http.answer(m_http->authenticateFields(), target, authorization);
        if (answer == HttpLogin::Answer::Refused) {
            // Like a refused FTP password: tried once, never again with the same words in this attempt.
            status("Login incorrect (" + m_http->statusLine() + ")");
            m_queue->setStatusDetail(id, m_http->statusLine());
            m_result = core::ItemStatus::StatusInvalidPassword;
            forgetSites();
            break;
        }
        if (answer != HttpLogin::Answer::Retry)
            break;
        status("Logging in with " + http.lastKindText() + "...");
        m_http->setAuthorization(std::move(authorization));
        // The 401's connection may be closed by now: the answer goes on a fresh one.
        m_http->close();
        if (!m_http->createSocket()
            || !m_http->connect(m_selected.host, m_selected.port, m_selected.user, m_selected.password, id))
            break;
        ok = m_http->download(writePath, target);
    }
    m_http->setAuthorization({});
    return ok;
}

} // namespace bw::engine
