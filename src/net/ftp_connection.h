// SPDX-License-Identifier: MIT
// The FTP client: a control connection, a data connection and an active-mode listener. Login,
// commands and replies, transfers in passive or active mode, and the listing parser.
// One owner thread drives it at a time, and every call runs to its end on that thread; abort() may
// come from any thread and only requests the stop, which the owner's waits see within moments.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/connection_notification.h"
#include "net/connection_reporter.h"
#include "net/ftp_features.h"
#include "net/listing_parser.h"
#include "net/remote_session.h"
#include "net/socket_connection.h"
#include "net/tls_session_pool.h"
#include "net/tls_stream.h"

namespace bw::net {

class StreamDigest;

// How the control and data connections of a site are protected.
enum class FtpSecurity : int
{
    Plain = 0,
    ImplicitTls = 1, // TLS from the first byte (usually port 990)
    ExplicitTls = 2, // a plain greeting, then AUTH TLS
};

// What login needs to know about a site: where it is, and how its connections are protected.
struct FtpSite : RemoteSite
{
    FtpSecurity security = FtpSecurity::Plain;
    // The certificate rules of both connections; the host is taken from `host`.
    TlsOptions tls{};
};

// Where the FTP exchange stands; the numbers are what the owners have always seen.
enum class FtpState : int
{
    Fresh = 0,
    Closed = 1,
    UserSent = 2,
    PassSent = 3,
    Idle = 4,
    Listing = 5,
    Downloading = 6,
    Uploading = 7,
};

class FtpConnection : private ConnectionReporter
{
public:
    FtpConnection();
    ~FtpConnection();
    FtpConnection(const FtpConnection &) = delete;
    FtpConnection &operator=(const FtpConnection &) = delete;

    // The control socket. The owner creates it first (createAndBind(0)).
    bool createAndBind(int port) { return m_control.createAndBind(port); }

    bool hasSocket() const { return m_control.hasSocket(); }

    bool close() { return m_control.close(); }

    bool isConnected() const { return m_control.isConnected(); }

    // Back to a fresh control socket state (no socket, no stop).
    void reset() { m_control.reset(); }

    // Takes back a stop request (see abort) deliberately, so the connection can be used again;
    // reset() does the same. A login keeps it.
    void clearStop()
    {
        m_stop.clear();
        m_aborted.store(false);
    }

    // The control connection's record, as a copy.
    ErrorCode error() const { return m_control.error(); }

    void clearError() { m_control.clearError(); }

    // Clears a failure, never a stop request. False (record untouched) when a stop is pending.
    bool clearErrorUnlessStopped() { return m_control.clearErrorUnlessStopped(); }

    bool isStopRequested() const { return m_control.isStopRequested(); }

    bool login(const FtpSite &site);
    // Sends a command that already ends in CR LF.
    bool sendCommand(const std::string &text);
    // Reads one reply with the time-out; the first line of the reply goes to `firstLine` when given,
    // every line to `allLines`.
    int readReply(std::string *firstLine = nullptr, std::vector<std::string> *allLines = nullptr);

    bool printWorkingDirectory(std::string &path);
    bool changeDirectory(const std::string &path);
    bool makeDirectory(const std::string &path);
    bool removeDirectory(const std::string &path);
    bool deleteFile(const std::string &path);
    bool rename(const std::string &from, const std::string &to);
    // SIZE (RFC 3659): the size of a remote file in the current transfer type.
    bool fileSize(const std::string &name, std::int64_t &sizeBytes);
    // MDTM (RFC 3659), asked only of a server whose FEAT lists it: the file's time in seconds since 1970.
    bool modificationTime(const std::string &name, std::int64_t &unixSeconds);
    bool quit();
    // Before a kept connection is used again: true when the server has closed it or sent a 421 while
    // it was idle (the reply or the close is read), so the owner logs in afresh.
    bool isControlDropped();
    // Leaves the server when logged in; sends nothing on a fresh or closed connection.
    void disconnect(int reason);
    // Safe from any thread: requests a stop with `code` (15, 101, 1025, ...). Every wait of the owner
    // (connect, handshake, reply, accept, transfer) ends within moments and every later call fails
    // at once, until reset() or clearStop() (a login keeps it). The owner closes its own sockets.
    void abort(int code);

    using ConnectionReporter::connectionId;
    using ConnectionReporter::setConnectionId;
    using ConnectionReporter::setObserver;
    using ConnectionReporter::setTimeout;
    using ConnectionReporter::timeout;
    FtpState ftpState() const;
    // Transfer progress in percent, or when idle how much of the time-out has passed.
    int progressPercent() const;

    // Transfers, each run to its end (the closing reply read) on the caller's thread. Progress goes to
    // the observer as NotifyProgress at most about ten times a second, and to `progress` too when
    // given. Nothing moving for longer than the time-out ends a transfer with DataIdleTimeout.
    bool download(const std::string &localPath, const std::string &remoteName, bool binary, bool passive,
        std::int64_t knownSize, bool resume, const TransferProgress &progress = {});
    bool upload(const std::string &localPath, const std::string &remoteName, bool binary, bool passive,
        const TransferProgress &progress = {});
    // The listing is then in listingText() and read with parseNextEntry. A listing larger than the
    // bound fails with ListingTooLarge and leaves no entries.
    bool list(const std::string &path, bool full, bool passive);

    // Checksums (ftp_checksum_commands.cpp). What FEAT lists, asked once per login (nothing for a
    // server that does not know FEAT).
    const FtpFeatures &features();
    // Asks the server for the checksum of `name` with `how`: its bytes [firstByte, endByte) where the
    // server offers RANG (endByte -1: the whole file). False (no error kept) when it gives none.
    bool serverChecksum(const std::string &name, const FtpHashCommand &how, std::int64_t firstByte,
        std::int64_t endByte, core::Checksum &checksum);

    // The next downloads feed their bytes (a resumed part included) to `digest`; null for none. Borrowed.
    void setDownloadDigest(StreamDigest *digest) { m_downloadDigest = digest; }

    static constexpr std::int64_t kListingLimitBytes = 64 * 1024 * 1024;

    void setListingLimitBytes(std::int64_t bytes) { m_listingLimitBytes = bytes; }

    // EPSV, or PASV once the server has refused EPSV on this connection; then connects, or only
    // starts to (the transfer command finishes it).
    bool enterPassive(bool waitForConnect = true);

    bool isEpsvRefused() const { return m_epsvRefused; }

    // How the current login protects its connections (Plain before the first login).
    FtpSecurity security() const { return m_security; }

    // The listing and its entries.
    bool parseNextEntry(const std::string &pattern);
    std::string entryName() const;
    bool entryIsDirectory() const;
    std::int64_t entrySize() const;
    const EntryTime &entryTime() const;
    std::string listingText() const;
    bool isFullListing() const;

    ListingParser &listingParser() { return m_parser; }

    std::string pasvHost() const { return m_pasvHost; }

    int pasvPort() const { return m_pasvPort; }

    std::string localAddressText() const { return m_localAddressText; }

    SocketConnection &controlConnection() { return m_control; }

    SocketConnection &dataConnection() { return m_data; }

    SocketConnection &listenerConnection() { return m_listener; }

    // Protocol errors: plain, or also closing the listener and the data connection.
    void setProtocolError(std::int32_t code, bool closeData = false);
    // A data connection's proxy failure becomes the record as it is (its reason is the news); any
    // other failure becomes `code`.
    void keepProxyFailure(const ErrorCode &dataError, std::int32_t code);

    // The clock behind activity and stall times (also handed to the data connection). Not owned.
    void setFtpClock(const platform::Clock *clock);

private:
    // A simple command: send it, read the reply, true when the code is one of the two given.
    bool command(const std::string &text, int success, int alsoSuccess, std::int32_t failure);
    void setFtpState(FtpState state);
    void closeDataConnections();
    // Passive: asks for the data address and starts the connect. Active: listens, and keeps the PORT
    // (or EPRT) to go out with the transfer command.
    bool setUpDataConnection(bool passive);
    // Creates the listening socket of an active transfer and the PORT/EPRT command naming it.
    bool listenForData(std::string &portCommand);
    // Sends a kept PORT on its own (before a command that must come between it and the transfer).
    bool sendDeferredPort();
    // Sends a transfer command (after a kept PORT, in the same write) and returns its reply code, or
    // kDataPathFailed when the server refused the PORT or the passive connect failed.
    int sendTransferCommand(const std::string &command);
    // Two commands in one write; the log shows the first now, the caller shows the second.
    bool sendCommandPair(const std::string &first, const std::string &second);
    // Sends `wire` as it is, after reading a closing reply still owed; the log shows `shownCommand`.
    bool sendWire(const std::string &wire, const std::string &shownCommand);
    void showCommandSent(const std::string &command) const;
    static constexpr int kDataPathFailed = -2;
    bool prepareFileTransfer(bool binary, bool passive);
    bool openTransfer(const std::string &command, const std::string &localPath, FtpState state);
    // The watch of a transfer: the time-out as its stall limit, progress to the observer and `progress`.
    TransferWatch transferWatch(const TransferProgress &progress);
    // After the data moved (or failed to): the completion line, the closing reply, the outcome.
    bool completeTransfer(bool moved);
    bool acceptActiveConnection();
    // True when an accepted data connection comes from the server's address; else it is closed.
    bool isFromServer(SocketConnection &accepted);
    // Sends EPSV; the data port, 0 when the server refused it, -1 on any other failure.
    int askExtendedPassivePort();
    bool connectDataConnection(const std::string &announcedHost, int port, bool wait);
    // TLS on the control connection: at once (implicit) or after AUTH TLS (explicit); then, logged
    // in, PBSZ 0 and PROT P so the data connections are protected too.
    bool secureControl(const FtpSite &site);
    bool askForTls();
    bool protectData();
    // MLSD where the server offers machine listings, else LIST or NLST.
    bool listWith(const std::string &verb, const std::string &path, bool passive, ListingFormat format);
    // Records a TLS failure of the login with the reason users read.
    void setTlsFailure(const std::string &reason);
    // Under a protected login, the data connection speaks TLS too, resuming the control session.
    bool secureDataConnection();
    // After a download's 226: false (with the reason recorded) when its TLS data connection ended
    // without close_notify and the file does not have the size known beforehand (-1: none known).
    bool isDataEndTrusted(const std::string &localPath, std::int64_t knownSize);
    bool serverXChecksum(const std::string &name, const FtpHashCommand &how, core::Checksum &checksum);
    std::int64_t nowSeconds() const;

    std::string m_localAddressText;
    std::deque<std::string> m_replyLines;
    // Before the connections: their streams hand it sessions until they are closed.
    TlsSessionPool m_sessions;
    // One stop request for all three sockets, so that a single abort ends whichever wait runs.
    StopSignal m_stop;
    SocketConnection m_control{&m_stop};
    SocketConnection m_data{&m_stop};
    SocketConnection m_listener{&m_stop};
    ListingParser m_parser;
    bool m_passive = false;
    bool m_epsvRefused = false; // this connection's server refused EPSV: use PASV from now on
    FtpSecurity m_security = FtpSecurity::Plain;
    TlsOptions m_dataTls; // the certificate rules of the data connections (never a session)
    std::string m_pasvHost;
    int m_pasvPort = 0;
    std::string m_transferPath; // local file of the running transfer, for its completion line
    std::int64_t m_listingLimitBytes = kListingLimitBytes;
    bool m_closingReplyOwed = false; // a stopped transfer's closing reply is still to be read
    std::atomic<bool> m_aborted{false}; // abort() was called since the last login or clearStop()
    std::string m_deferredPort; // an active transfer's PORT, sent with its transfer command
    bool m_dataConnectPending = false; // a passive data connection under way, finished after the command
    char m_transferType = 0; // 'I' or 'A' once the server accepted a TYPE on this login, else 0
    std::optional<FtpFeatures> m_features; // this login's FEAT, once asked
    std::string m_hashAlgorithm; // the HASH algorithm OPTS HASH selected on this login
    StreamDigest *m_downloadDigest = nullptr;

    mutable std::mutex m_ftpLock;
    FtpState m_ftpState = FtpState::Fresh; // guarded by m_ftpLock
    std::int64_t m_transferStart = 0; // guarded by m_ftpLock
    std::int64_t m_lastActivity = 0; // guarded by m_ftpLock
};

} // namespace bw::net
