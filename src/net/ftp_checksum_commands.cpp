// SPDX-License-Identifier: MIT
// FtpConnection's checksum commands: FEAT once per login, then HASH (after OPTS HASH, and RANG for a
// part) or the older XSHA256 / XSHA1 / XMD5.
#include "net/ftp_connection.h"
#include "net/ftp_session.h"

namespace bw::net {

const FtpFeatures &FtpConnection::features()
{
    if (m_features)
        return *m_features;
    sendCommand("FEAT\r\n");
    std::vector<std::string> lines;
    // RFC 2389: 211 lists the features; a server without FEAT answers 500 or 502 and offers none.
    const int code = readReply(nullptr, &lines);
    m_features = code == 211 ? FtpFeatures::parse(lines) : FtpFeatures();
    return *m_features;
}

bool FtpConnection::serverChecksum(const std::string &name, const FtpHashCommand &how, std::int64_t firstByte,
    std::int64_t endByte, core::Checksum &checksum)
{
    const bool ranged = firstByte > 0 || endByte >= 0;
    if (how.command != "HASH")
        return !ranged && serverXChecksum(name, how, checksum);
    const std::string algorithmName(core::checksumAlgorithmName(how.algorithm));
    if (how.selectFirst && m_hashAlgorithm != algorithmName) {
        sendCommand("OPTS HASH " + algorithmName + "\r\n");
        if (readReply() != 200)
            return false;
        m_hashAlgorithm = algorithmName;
    }
    if (ranged) {
        // RANG counts in bytes, so the transfer type must be binary first; its end is inclusive.
        if (m_transferType != 'I') {
            sendCommand("TYPE I\r\n");
            if (readReply() != 200)
                return false;
            m_transferType = 'I';
        }
        sendCommand("RANG " + std::to_string(firstByte) + " " + std::to_string(endByte - 1) + "\r\n");
        if (readReply() != 350)
            return false;
    }
    sendCommand("HASH " + name + "\r\n");
    std::vector<std::string> lines;
    const int code = readReply(nullptr, &lines);
    if (ranged) {
        sendCommand("RANG 1 0\r\n"); // back to whole files for the transfers that follow
        readReply();
    }
    if (code != 213 || lines.empty())
        return false;
    // The reply names the range it hashed: a server that ignored RANG answered for the whole file.
    const std::optional<core::Checksum> value =
        parseHashReply(lines.back(), how.algorithm, ranged ? firstByte : 0, endByte);
    if (!value)
        return false;
    checksum = *value;
    return true;
}

bool FtpConnection::serverXChecksum(
    const std::string &name, const FtpHashCommand &how, core::Checksum &checksum)
{
    sendCommand(how.command + " " + name + "\r\n");
    std::vector<std::string> lines;
    const int code = readReply(nullptr, &lines);
    if ((code != 250 && code != 213) || lines.empty())
        return false;
    const std::optional<core::Checksum> value = parseXHashReply(lines.back(), how.algorithm);
    if (!value)
        return false;
    checksum = *value;
    return true;
}

std::optional<ServerChecksumOffer> FtpSession::checksumOffer()
{
    if (!m_connection->isConnected() || m_connection->isStopRequested())
        return std::nullopt;
    const FtpFeatures &features = m_connection->features();
    const std::optional<FtpHashCommand> how = chooseHashCommand(features);
    if (!how)
        return std::nullopt;
    return ServerChecksumOffer{how->algorithm, how->command, how->command == "HASH" && features.has("RANG")};
}

bool FtpSession::serverChecksum(
    const std::string &name, std::int64_t firstByte, std::int64_t endByte, core::Checksum &checksum)
{
    if (!m_connection->isConnected() || m_connection->isStopRequested())
        return false;
    const std::optional<FtpHashCommand> how = chooseHashCommand(m_connection->features());
    if (!how)
        return false;
    const bool ok = m_connection->serverChecksum(name, *how, firstByte, endByte, checksum);
    if (!ok)
        m_connection->clearErrorUnlessStopped();
    return ok;
}

bool FtpSession::setDownloadDigest(StreamDigest *digest)
{
    m_connection->setDownloadDigest(digest);
    return true;
}

} // namespace bw::net
