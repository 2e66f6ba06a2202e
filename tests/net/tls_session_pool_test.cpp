// SPDX-License-Identifier: MIT
// The sessions kept for the data connections of one login: fresh ones first, a few at most.
#include <vector>

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include "net/tls_session_pool.h"

namespace bw::net {
namespace {

TEST(TlsSessionPool, KeepsOnlyTheNewestFewAndOffersTheLastOneAgain)
{
    TlsSessionPool pool;
    EXPECT_FALSE(pool.next());
    std::vector<SSL_SESSION *> added;
    for (std::size_t i = 0; i < TlsSessionPool::kMaxFreshSessions + 3; ++i) {
        added.push_back(SSL_SESSION_new());
        pool.add(added.back());
    }
    // The three oldest were dropped (and freed: the sanitizer builds see a leak otherwise).
    for (std::size_t i = 3; i < added.size(); ++i)
        EXPECT_EQ(pool.next().get(), added[i]) << i;
    EXPECT_EQ(pool.next().get(), added.back());
}

} // namespace
} // namespace bw::net
