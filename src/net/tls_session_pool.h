// SPDX-License-Identifier: MIT
// The TLS sessions a server handed out on the connections of one FTP login, for its data connections
// to resume. A TLS 1.3 server may take each session only once, so every new one is kept; a TLS 1.2
// session serves any number of connections, so the one offered last is offered again when no fresh
// one came. A server may hand out tickets without end: only the newest few are kept. Filled by
// whichever thread runs the connection's handshake or reads; taken by the owner.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

#include <openssl/ssl.h>

#include "net/tls_stream.h"

namespace bw::net {

class TlsSessionPool
{
public:
    static constexpr std::size_t kMaxFreshSessions = 4;

    // Takes over the reference the caller holds.
    void add(SSL_SESSION *session);
    // A reference to the session to offer next (fresh first, else the one offered last); null when
    // the server has handed out none.
    TlsSession next();
    void clear();

private:
    std::mutex m_lock;
    std::deque<TlsSession> m_fresh; // guarded by m_lock
    TlsSession m_last; // guarded by m_lock
};

} // namespace bw::net
