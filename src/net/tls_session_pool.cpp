// SPDX-License-Identifier: MIT
#include "net/tls_session_pool.h"

namespace bw::net {

void TlsSessionPool::add(SSL_SESSION *session)
{
    std::lock_guard lock{m_lock};
    m_fresh.emplace_back(session);
    if (m_fresh.size() > kMaxFreshSessions)
        m_fresh.pop_front(); // the oldest is the least likely to be taken still
}

TlsSession TlsSessionPool::next()
{
    std::lock_guard lock{m_lock};
    if (!m_fresh.empty()) {
        m_last = std::move(m_fresh.front());
        m_fresh.pop_front();
    }
    if (!m_last || SSL_SESSION_up_ref(m_last.get()) != 1)
        return {};
    return TlsSession{m_last.get()};
}

void TlsSessionPool::clear()
{
    std::lock_guard lock{m_lock};
    m_fresh.clear();
    m_last.reset();
}

} // namespace bw::net
