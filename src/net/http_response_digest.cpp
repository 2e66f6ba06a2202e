// SPDX-License-Identifier: MIT
// HttpConnection's view of the checksum a response carries (Repr-Digest, else Digest).
#include "net/http_connection.h"
#include "net/stream_digest.h"

namespace bw::net {

std::optional<HttpChecksum> HttpConnection::responseChecksum() const
{
    std::lock_guard lock{m_httpLock};
    return net::responseChecksum(m_header.reprDigest(), m_header.digest());
}

void HttpConnection::startDigestFromHeader()
{
    // A digest already running has the user's algorithm, which wins over the server's.
    if (!m_downloadDigest || m_downloadDigest->isActive())
        return;
    if (const std::optional<HttpChecksum> told =
            net::responseChecksum(m_header.reprDigest(), m_header.digest()))
        m_downloadDigest->start(told->value.algorithm);
}

} // namespace bw::net
