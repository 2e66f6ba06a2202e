// SPDX-License-Identifier: MIT
// The file transfers of the SFTP session: many READ or WRITE requests in flight at once (libssh asks
// one at a time), written straight to the session's channel and answered in a wait loop that also
// watches the stop descriptor, the time-out, the shared speed limit and the minimum speed.
#pragma once

#include <cstdint>
#include <string>

#include <libssh/sftp.h>

#include "net/speed_limits.h"
#include "net/ssh_connection.h"
#include "net/transfer_progress.h"

namespace bw::net {

// The request sizes the server takes: what it announces (limits@openssh.com), else the 32 KiB every
// server must take.
// Requests above this are never sent, whatever the server allows.
inline constexpr std::uint32_t kLargestRequestBytes = 256 * 1024;

struct SftpLimits
{
    std::uint32_t readBytes = 32 * 1024;
    std::uint32_t writeBytes = 32 * 1024;
};

// Asks the server for its limits when it offers the extension; the safe sizes otherwise. Run right
// after the SFTP start, before any file is open.
SftpLimits sftpQueryLimits(SshConnection &connection, sftp_session sftp, int timeoutSeconds);

struct SftpTransferRules
{
    int timeoutSeconds = 30; // nothing moved for this long ends the transfer
    SpeedLimits *speedLimits = nullptr;
    int minSpeedKBps = 0; // 0: the shared minimum
    int minSpeedGraceSeconds = 0;
    TransferProgress progress;
    SftpLimits limits;
};

// Downloads `remotePath` into `localPath`, after the bytes the local file holds when `resume`. The error
// is recorded on the connection; the file keeps every byte received in order, so it can be resumed.
bool sftpDownload(SshConnection &connection, sftp_session sftp, const std::string &remotePath,
    const std::string &localPath, std::int64_t knownSizeBytes, bool resume, const SftpTransferRules &rules);

// Uploads the whole of `localPath` as `remotePath` (replacing it).
bool sftpUpload(SshConnection &connection, sftp_session sftp, const std::string &localPath,
    const std::string &remotePath, const SftpTransferRules &rules);

} // namespace bw::net
