// SPDX-License-Identifier: MIT
// FTP file transfers and listings: TYPE, REST resume, RETR, STOR, LIST and NLST, each run to its end
// on the caller's thread, and the server's closing reply. The data path is in ftp_data_path.cpp.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>

#include "net/ftp_connection.h"
#include "net/log_levels.h"
#include "platform/file_util.h"
#include "platform/unique_fd.h"

namespace bw::net {

namespace {

constexpr int kDataTlsRefused = 522;

std::string sizeText(std::int64_t bytes)
{
    constexpr std::int64_t kMiB = 1024 * 1024;
    return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB" : std::to_string(bytes) + " bytes";
}

// True when `path` is a regular file this process can open for reading.
bool canReadFile(const std::string &path)
{
    platform::UniqueFd fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};

    struct stat info
    {};

    return fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

// The steps every file transfer starts with: note the start time, set the type, open the data path.
bool FtpConnection::prepareFileTransfer(bool binary, bool passive)
{
    {
        std::lock_guard lock{m_ftpLock};
        m_transferStart = nowSeconds();
    }
    m_passive = passive;
    // The type holds until changed: a second file of the same type needs no TYPE round trip.
    const char type = binary ? 'I' : 'A';
    if (m_transferType != type) {
        sendCommand(binary ? "TYPE I\r\n" : "TYPE A\r\n");
        if (readReply() != 200) {
            setProtocolError(UnexpectedResponse, true);
            return false;
        }
        m_transferType = type;
    }
    return setUpDataConnection(passive);
}

// Sends RETR or STOR; a preliminary 125 or 150 means the server opens (or accepts) the data connection.
bool FtpConnection::openTransfer(const std::string &command, const std::string &localPath, FtpState state)
{
    const int code = sendTransferCommand(command);
    if (code == kDataPathFailed)
        return false;
    if (code != 125 && code != 150) {
        // vsftpd answers 522 when the data connection did not resume the TLS session: no refusal of
        // the file, and the next attempt may well resume it.
        if (code == kDataTlsRefused) {
            setProtocolError(TlsFailed, true);
            m_control.setErrorDetail("The server refused the TLS session of the data connection");
        } else {
            setProtocolError(PermissionDenied, true);
        }
        return false;
    }
    if (!acceptActiveConnection() || !secureDataConnection())
        return false;
    m_transferPath = localPath;
    setFtpState(state);
    return true;
}

TransferWatch FtpConnection::transferWatch(const TransferProgress &progress)
{
    // The owner hears the progress as notifications; a caller's own callback hears it too.
    return {timeout(), [this, &progress](std::int64_t done, std::int64_t total) {
                notify(NotifyProgress, done, total, {});
                if (progress)
                    progress(done, total);
            }};
}

bool FtpConnection::completeTransfer(bool moved)
{
    const FtpState state = ftpState();
    std::int64_t started;
    {
        std::lock_guard lock{m_ftpLock};
        started = m_transferStart;
    }
    const std::int64_t seconds = nowSeconds() - started;
    const std::int64_t total = m_data.totalSize();
    const double speed =
        seconds > 0 ? static_cast<double>(total) / 1000.0 / static_cast<double>(seconds) : 0.0;

    const ErrorCode dataError = m_data.error();
    if (moved && state != FtpState::Listing) {
        char line[1024];
        std::snprintf(line, sizeof line, "%s %s: %s - %lld bytes in %lld sec. (%.2f Kb/s)",
            state == FtpState::Downloading ? "[DOWN]" : "[UP]",
            state == FtpState::Downloading ? "File Downloaded" : "File Uploaded", m_transferPath.c_str(),
            static_cast<long long>(total), static_cast<long long>(seconds), speed);
        log(line, kLogOutcome);
    }
    closeDataConnections();
    // The closing reply is read in every case, so the control connection stays in step with the
    // server; a failed transfer keeps its own error as the cause. A stop keeps the reply from being
    // read now; the next command after the stop was cleared reads it first.
    std::string closingLine;
    const int code = readReply(&closingLine);
    m_closingReplyOwed = code == -1 && m_control.isStopRequested();
    bool ok = true;
    if (!moved) {
        m_control.setError(dataError);
        m_data.clearError();
        log(dataError.text(), kLogOutcome);
        ok = false;
    } else if (code != 226 && code != 250) {
        // The command was taken and the data moved, so this is no refusal: a failure at the end (451,
        // 426, 552, or vsftpd's 522 for a TLS session it would not resume) is tried again later.
        setProtocolError(UnexpectedResponse);
        if (!closingLine.empty())
            log("The server did not confirm the transfer: " + closingLine, kLogOutcome);
        ok = false;
    }
    m_passive = false;
    {
        std::lock_guard lock{m_ftpLock};
        m_lastActivity = nowSeconds();
        m_ftpState = FtpState::Idle;
    }
    return ok;
}

bool FtpConnection::download(const std::string &localPath, const std::string &remoteName, bool binary,
    bool passive, std::int64_t knownSize, bool resume, const TransferProgress &progress)
{
    log("Downloading File: " + remoteName, kLogFileName);
    if (!prepareFileTransfer(binary, passive))
        return false;
    m_data.setAppendMode(false);
    if (resume) {
        // Resume from the local file's length; a refused REST writes the file again from its start.
        const std::int64_t length = std::max<std::int64_t>(platform::fileSize(localPath), 0);
        if (length > 0) {
            if (!sendDeferredPort())
                return false;
            sendCommand("REST " + std::to_string(length) + "\r\n");
            m_data.setAppendMode(readReply() == 350);
        }
    }
    if (!openTransfer("RETR " + remoteName + "\r\n", localPath, FtpState::Downloading))
        return false;
    m_data.setTotalSize(knownSize);
    TransferWatch watch = transferWatch(progress);
    watch.digest = m_downloadDigest;
    return completeTransfer(m_data.receiveFile(localPath, true, watch))
        && isDataEndTrusted(localPath, binary ? knownSize : -1);
}

bool FtpConnection::isDataEndTrusted(const std::string &localPath, std::int64_t knownSize)
{
    // A TLS data connection closed without close_notify may have been cut by anyone on the path, and
    // some servers send 226 all the same: then only the size the server announced vouches for the file.
    if (m_security == FtpSecurity::Plain || m_data.endConfirmed() || knownSize <= 0)
        return true;
    const std::int64_t localBytes = platform::fileSize(localPath);
    if (localBytes == knownSize)
        return true;
    m_control.setLocalError(SocketReadError);
    char line[512];
    std::snprintf(line, sizeof line,
        "%s: TLS data connection closed without close_notify after %lld of %lld bytes [%s]", error().text(),
        static_cast<long long>(localBytes), static_cast<long long>(knownSize), localPath.c_str());
    log(line, kLogOutcome);
    return false;
}

bool FtpConnection::upload(const std::string &localPath, const std::string &remoteName, bool binary,
    bool passive, const TransferProgress &progress)
{
    log("Uploading File: " + remoteName, kLogFileName);
    // STOR truncates the remote file at once: a local file that cannot be read must stop the upload
    // before anything is sent, or every retry would wipe what the server holds.
    if (!canReadFile(localPath)) {
        m_control.setLocalError(FileOpenError);
        log(std::string(error().text()) + " [" + localPath + "]", kLogOutcome);
        return false;
    }
    if (!prepareFileTransfer(binary, passive))
        return false;
    if (!openTransfer("STOR " + remoteName + "\r\n", localPath, FtpState::Uploading))
        return false;
    return completeTransfer(m_data.sendFile(localPath, 0, true, transferWatch(progress)));
}

bool FtpConnection::list(const std::string &path, bool full, bool passive)
{
    if (full && features().has("MLST")) {
        if (listWith("MLSD", path, passive, ListingFormat::Machine))
            return true;
        // MLSD lists folders only: a file name, or a server that offers it but refuses it, gets LIST.
        if (!isConnected() || !error().is(CatProtocol, PermissionDenied) || !clearErrorUnlessStopped())
            return false;
    }
    return listWith(full ? "LIST" : "NLST", path, passive, full ? ListingFormat::Full : ListingFormat::Names);
}

bool FtpConnection::listWith(
    const std::string &verb, const std::string &path, bool passive, ListingFormat format)
{
    {
        std::lock_guard lock{m_ftpLock};
        m_transferStart = nowSeconds();
    }
    m_parser.setListing({}, format);
    if (!setUpDataConnection(passive))
        return false;
    // The listing goes to a file created exclusively, never to a name another user could predict.
    const std::filesystem::path file = platform::createTempFile("ftp");
    if (file.empty()) {
        m_control.setLocalError(FileOpenError);
        closeDataConnections();
        return false;
    }
    std::error_code ignored;
    const int code = sendTransferCommand(verb + (path.empty() ? "" : " " + path) + "\r\n");
    if (code == kDataPathFailed) {
        std::filesystem::remove(file, ignored);
        return false;
    }
    if (code != 125 && code != 150) {
        setProtocolError(PermissionDenied, true);
        std::filesystem::remove(file, ignored);
        return false;
    }
    if (!acceptActiveConnection() || !secureDataConnection()) {
        std::filesystem::remove(file, ignored);
        return false;
    }
    m_transferPath = file.string();
    setFtpState(FtpState::Listing);
    m_data.setTotalSize(0);
    m_data.setAppendMode(false);
    const TransferProgress noProgress; // the watch refers to it
    TransferWatch watch = transferWatch(noProgress);
    watch.byteLimit = m_listingLimitBytes;
    const bool ok = completeTransfer(m_data.receiveFile(file.string(), true, watch));
    if (error().is(CatProtocol, ListingTooLarge))
        log("Listing larger than " + sizeText(m_listingLimitBytes) + ": not read", kLogOutcome);
    else
        m_parser.loadFile(file, format);
    std::filesystem::remove(file, ignored);
    return ok;
}

} // namespace bw::net
