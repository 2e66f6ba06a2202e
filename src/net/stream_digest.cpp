// SPDX-License-Identifier: MIT
#include "net/stream_digest.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include "platform/unique_fd.h"

namespace bw::net {

namespace {

const EVP_MD *messageDigestOf(core::ChecksumAlgorithm algorithm)
{
    switch (algorithm) {
    case core::ChecksumAlgorithm::Md5:
        return EVP_md5();
    case core::ChecksumAlgorithm::Sha1:
        return EVP_sha1();
    case core::ChecksumAlgorithm::Sha256:
        return EVP_sha256();
    case core::ChecksumAlgorithm::Sha512:
        return EVP_sha512();
    case core::ChecksumAlgorithm::None:
        break;
    }
    return nullptr;
}

constexpr std::size_t kReadBlockBytes = 1 << 20;

} // namespace

void StreamDigest::ContextFree::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

StreamDigest::StreamDigest()
    : m_context(EVP_MD_CTX_new())
{}

StreamDigest::~StreamDigest() = default;

bool StreamDigest::start(core::ChecksumAlgorithm algorithm)
{
    m_algorithm = core::ChecksumAlgorithm::None;
    m_bytesSeen = 0;
    const EVP_MD *md = messageDigestOf(algorithm);
    if (!md || !m_context || EVP_DigestInit_ex(m_context.get(), md, nullptr) != 1)
        return algorithm == core::ChecksumAlgorithm::None;
    m_algorithm = algorithm;
    return true;
}

void StreamDigest::update(const void *data, std::size_t length)
{
    if (!isActive() || length == 0)
        return;
    EVP_DigestUpdate(m_context.get(), data, length);
    m_bytesSeen += static_cast<std::int64_t>(length);
}

bool StreamDigest::restartWithFileHead(int fd, std::int64_t lengthBytes)
{
    if (!start(m_algorithm))
        return false;
    std::vector<char> block(kReadBlockBytes);
    std::int64_t offset = 0;
    while (offset < lengthBytes) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::int64_t>(lengthBytes - offset, block.size()));
        const ssize_t n = ::pread(fd, block.data(), wanted, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        update(block.data(), static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

std::string StreamDigest::finishHex()
{
    if (!isActive())
        return {};
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    m_algorithm = core::ChecksumAlgorithm::None;
    if (EVP_DigestFinal_ex(m_context.get(), value, &length) != 1)
        return {};
    return core::lowerHex(value, length);
}

std::string fileDigestHex(
    const std::string &path, core::ChecksumAlgorithm algorithm, std::int64_t lengthBytes)
{
    const platform::UniqueFd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (!file.isOpen())
        return {};
    if (lengthBytes < 0) {
        const off_t end = ::lseek(file.get(), 0, SEEK_END);
        if (end < 0)
            return {};
        lengthBytes = end;
    }
    StreamDigest digest;
    if (!digest.start(algorithm) || !digest.restartWithFileHead(file.get(), lengthBytes))
        return {};
    return digest.finishHex();
}

} // namespace bw::net
