// SPDX-License-Identifier: MIT
// A digest computed over a file while its bytes are written (OpenSSL EVP), so a download is checked
// without reading the file a second time. The receive primes it with the part a resume keeps. Used by
// one thread at a time: the transfer's, then its owner's once the transfer is over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/checksum.h"

struct evp_md_ctx_st;

namespace bw::net {

class StreamDigest
{
public:
    StreamDigest();
    ~StreamDigest();
    StreamDigest(const StreamDigest &) = delete;
    StreamDigest &operator=(const StreamDigest &) = delete;

    // Starts afresh with `algorithm` (None: the digest is off and sees nothing). False when OpenSSL has
    // no such algorithm; the digest is then off.
    bool start(core::ChecksumAlgorithm algorithm);

    core::ChecksumAlgorithm algorithm() const { return m_algorithm; }

    bool isActive() const { return m_algorithm != core::ChecksumAlgorithm::None; }

    // Bytes the digest has seen since start().
    std::int64_t bytesSeen() const { return m_bytesSeen; }

    void update(const void *data, std::size_t length);
    // Starts afresh, then reads the first `lengthBytes` of the open file `fd` (from offset 0, the file
    // position untouched): the part a resume writes after. False when the file is shorter or unreadable.
    bool restartWithFileHead(int fd, std::int64_t lengthBytes);
    // The value in lower-case hex; the digest is off afterwards. Empty when it was off.
    std::string finishHex();

private:
    struct ContextFree
    {
        void operator()(evp_md_ctx_st *context) const;
    };

    std::unique_ptr<evp_md_ctx_st, ContextFree> m_context;
    core::ChecksumAlgorithm m_algorithm = core::ChecksumAlgorithm::None;
    std::int64_t m_bytesSeen = 0;
};

// The digest of the first `lengthBytes` of the file at `path` (all of it when negative); empty when the
// file cannot be read that far.
std::string fileDigestHex(
    const std::string &path, core::ChecksumAlgorithm algorithm, std::int64_t lengthBytes = -1);

} // namespace bw::net
