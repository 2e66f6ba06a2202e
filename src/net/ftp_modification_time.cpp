// SPDX-License-Identifier: MIT
// A file's modification time from an FTP server that offers MDTM.
#include "net/ftp_connection.h"
#include "net/mlsd_parser.h"

namespace bw::net {

bool FtpConnection::modificationTime(const std::string &name, std::int64_t &unixSeconds)
{
    if (!features().has("MDTM"))
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
