// SPDX-License-Identifier: MIT
// A logged-in FTP connection offered on a lease board, as a transfer job offers it to the browser.
#pragma once

#include <memory>

#include "engine/connection_lease.h"
#include "net/ftp_session.h"

namespace bw::test {

struct OfferedSession
{
    std::shared_ptr<net::FtpConnection> connection;
    std::shared_ptr<engine::ConnectionLease> lease;
};

// Logs in to `site` (unless `logIn` is false) and offers the connection for item `itemId`.
inline OfferedSession offerSession(engine::LeaseBoard &board, std::int32_t itemId, const net::FtpSite &site,
    bool logIn = true, net::FtpSessionOptions options = {})
{
    OfferedSession offered;
    offered.connection = std::make_shared<net::FtpConnection>();
    offered.connection->setTimeout(options.timeoutSeconds);
    if (logIn && (!offered.connection->createAndBind(0) || !offered.connection->login(site)))
        return offered;
    options.security = site.security;
    options.tls = site.tls;
    const net::RemoteSite remote{site.host, site.port, site.user, site.password, itemId};
    offered.lease = board.offer(
        itemId, std::make_shared<net::FtpSession>(offered.connection, std::move(options)), remote);
    return offered;
}

} // namespace bw::test
