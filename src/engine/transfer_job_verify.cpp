// SPDX-License-Identifier: MIT
// The checksum steps of a transfer job over a remote session: a download hashed while it is written and
// compared with the user's checksum or the server's; a part compared with the server's hash of the same
// bytes before it is resumed; an upload compared with the server's hash of what it stored.
#include <unistd.h>

#include "core/queue_list.h"
#include "engine/checksum_check.h"
#include "engine/transfer_job.h"
#include "net/http_connection.h"
#include "net/stream_digest.h"
#include "platform/file_util.h"

namespace bw::engine {

namespace {

// The session forgets the digest when the download is over, however it ends.
class DigestLoan
{
public:
    DigestLoan(net::RemoteSession &session, net::StreamDigest &digest)
        : m_session(session)
        , m_lent(session.setDownloadDigest(&digest))
    {}

    ~DigestLoan() { m_session.setDownloadDigest(nullptr); }

    DigestLoan(const DigestLoan &) = delete;
    DigestLoan &operator=(const DigestLoan &) = delete;

    bool isLent() const { return m_lent; }

private:
    net::RemoteSession &m_session;
    bool m_lent;
};

// The digest's value when it saw the whole file at `path`; empty when it did not (a download that
// found the file complete and wrote nothing).
std::string finishedDigestHex(net::StreamDigest &digest, const std::string &path)
{
    const std::int64_t seen = digest.bytesSeen();
    const std::string hex = digest.finishHex();
    return seen == platform::fileSize(path) ? hex : std::string();
}

} // namespace

bool TransferJob::getChecked(
    int id, const std::string &fileName, const PartFile &part, std::int64_t listedSize)
{
    const core::QueueItem item = core::snapshotOrVanished(*m_queue, id);
    std::optional<ExpectedChecksum> user;
    if (item.checksum.isSet())
        user = ExpectedChecksum{item.checksum, {}};
    // The user's value wins, and then the server is not asked at all.
    const std::optional<net::ServerChecksumOffer> offer = user ? std::nullopt : m_session->checksumOffer();
    const core::ChecksumAlgorithm algorithm =
        user ? user->value.algorithm : (offer ? offer->algorithm : core::ChecksumAlgorithm::None);
    net::StreamDigest digest;
    if (!digest.start(algorithm) || !digest.isActive())
        return m_session->get(fileName, part.writePath(), listedSize, true, {});
    const DigestLoan loan(*m_session, digest);
    if (!loan.isLent())
        return m_session->get(fileName, part.writePath(), listedSize, true, {});
    if (offer && offer->ranges)
        comparePartWithServer(fileName, part.writePath());
    // A mismatch is fetched once more from the start: a resumed part or a bad moment of the server's may
    // be the cause, and a second copy tells.
    m_mismatchSeen = false;
    while (true) {
        digest.start(algorithm);
        if (!m_session->get(fileName, part.writePath(), listedSize, true, {}))
            return false;
        const std::string actual = finishedDigestHex(digest, part.writePath());
        std::optional<ExpectedChecksum> expected = user;
        core::Checksum told;
        if (!expected && !actual.empty() && m_session->serverChecksum(fileName, 0, -1, told))
            expected = ExpectedChecksum{told, offer->command};
        if (!refutedByChecksum(id, part, expected, actual))
            return true;
        if (m_result != kNoResult)
            return false;
        status("Fetching the file once more from the start...");
    }
}

bool TransferJob::refutedByChecksum(
    int id, const PartFile &part, const std::optional<ExpectedChecksum> &expected, const std::string &actual)
{
    const ChecksumVerdict verdict = judgeChecksum(expected, actual);
    if (verdict == ChecksumVerdict::Unchecked)
        return false;
    if (verdict == ChecksumVerdict::Verified) {
        status(verifiedText(*expected));
        m_queue->setStatusDetail(id, verifiedText(*expected));
        return false;
    }
    status(mismatchValuesText(*expected, actual));
    const std::string kept = keepMismatchedFile(part.writePath(), part.finalPath());
    if (!kept.empty()) {
        status("The file that failed the check is kept as " + kept);
    } else {
        // Left under the part's name, a later attempt would take the bad file as complete.
        ::unlink(part.writePath().c_str());
        status("The file that failed the check is removed: " + part.writePath());
    }
    // The second mismatch in a row (the part was fetched afresh) is the server's file: the item fails.
    if (m_mismatchSeen || kept.empty()) {
        status(mismatchText(*expected));
        m_queue->setStatusDetail(id, mismatchText(*expected));
        m_result = core::ItemStatus::StatusError;
    }
    m_mismatchSeen = true;
    return true;
}

bool TransferJob::downloadHttpChecked(
    int id, const core::QueueItem &item, const PartFile &part, const std::string &target)
{
    std::optional<ExpectedChecksum> user;
    if (item.checksum.isSet())
        user = ExpectedChecksum{item.checksum, {}};
    net::StreamDigest digest;
    m_http->setDownloadDigest(&digest);
    m_mismatchSeen = false;
    bool ok = true;
    while (ok) {
        // Off without the user's value: the response's Repr-Digest or Digest then starts it.
        digest.start(item.checksum.algorithm);
        ok = downloadWithLogin(id, item, part.writePath(), target);
        if (!ok)
            break;
        const std::string actual = finishedDigestHex(digest, part.writePath());
        std::optional<ExpectedChecksum> expected = user;
        if (const std::optional<net::HttpChecksum> told = m_http->responseChecksum(); !expected && told)
            expected = ExpectedChecksum{told->value, told->source};
        if (!refutedByChecksum(id, part, expected, actual) || m_result != kNoResult)
            break;
        status("Fetching the file once more from the start...");
        m_http->reset();
        ok = m_http->createSocket()
            && m_http->connect(m_selected.host, m_selected.port, m_selected.user, m_selected.password, id);
    }
    m_http->setDownloadDigest(nullptr);
    return ok && m_result == kNoResult;
}

void TransferJob::comparePartWithServer(const std::string &fileName, const std::string &partPath)
{
    const std::int64_t length = platform::fileSize(partPath);
    core::Checksum server;
    if (length <= 0 || !m_session->serverChecksum(fileName, 0, length, server))
        return;
    if (net::fileDigestHex(partPath, server.algorithm, length) == server.hex)
        return;
    // A plain resume would keep bytes the server's file does not have.
    status("The partial file differs from the server's file; starting over.");
    if (::truncate(partPath.c_str(), 0) != 0)
        status("Cannot empty the partial file " + partPath);
}

bool TransferJob::putChecked(int id, const std::string &localPath, const std::string &fileName)
{
    // Asked before STOR, so the check after it costs one command.
    const std::optional<net::ServerChecksumOffer> offer = m_session->checksumOffer();
    if (!m_session->put(localPath, fileName, {}))
        return false;
    core::Checksum stored;
    if (!offer || offer->command != "HASH" || !m_session->serverChecksum(fileName, 0, -1, stored))
        return true;
    const ExpectedChecksum expected{stored, offer->command};
    const std::string local = net::fileDigestHex(localPath, stored.algorithm);
    switch (judgeChecksum(expected, local)) {
    case ChecksumVerdict::Unchecked:
        return true;
    case ChecksumVerdict::Verified:
        status(verifiedText(expected));
        m_queue->setStatusDetail(id, verifiedText(expected));
        return true;
    case ChecksumVerdict::Mismatch:
        break;
    }
    status(mismatchValuesText(expected, local));
    status(mismatchText(expected));
    m_queue->setStatusDetail(id, mismatchText(expected));
    m_result = core::ItemStatus::StatusTransferFailed;
    return false;
}

} // namespace bw::engine
