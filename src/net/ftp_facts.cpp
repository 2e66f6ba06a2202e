// SPDX-License-Identifier: MIT
// What an FTP login learns about its server and its files besides listings: the FEAT answer and MDTM.
#include <utility>

#include "net/ftp_connection.h"
#include "net/mlsd_parser.h"

namespace bw::net {

bool FtpConnection::learnFeatures()
{
    // Asked once, and only when a feature matters: a login by itself costs no extra round trip.
    if (std::exchange(m_featuresAsked, true))
        return true;
    sendCommand("FEAT\r\n");
    std::vector<std::string> lines;
    const int code = readReply(nullptr, &lines);
    if (code < 0)
        return false;
    m_features = FtpFeatures::fromReply(code, lines);
    return true;
}

bool FtpConnection::modificationTime(const std::string &name, std::int64_t &unixSeconds)
{
    if (!learnFeatures() || !m_features.has("MDTM"))
        return false;
    sendCommand("MDTM " + name + "\r\n");
    std::string line;
    if (readReply(&line) != 213) {
        setProtocolError(UnexpectedResponse);
        return false;
    }
    // "213 20240131120000": the time alone follows the code.
    const std::size_t start = line.find_first_not_of(' ', 3);
    const std::optional<std::int64_t> when =
        start == std::string::npos ? std::nullopt : parseFtpTimeValue(std::string_view(line).substr(start));
    if (!when) {
        setProtocolError(MalformedResponse);
        return false;
    }
    unixSeconds = *when;
    return true;
}

} // namespace bw::net
