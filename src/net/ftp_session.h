// SPDX-License-Identifier: MIT
// The FTP and FTPS implementation of RemoteSession over an FtpConnection that it shares with whoever
// made it (a transfer job lends its logged-in connection this way). Transfers are binary.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "net/ftp_connection.h"
#include "net/host_addresses.h"
#include "net/remote_session.h"

namespace bw::net {

// What only FTP needs to know besides the site.
struct FtpSessionOptions
{
    bool passive = true;
    FtpSecurity security = FtpSecurity::Plain;
    TlsOptions tls{}; // the certificate rules; the host is taken from the site
    int timeoutSeconds = 30;
    HostResolver resolver = nullptr; // replaces the name look-up in tests; null for the system's
};

class FtpSession final : public RemoteSession
{
public:
    explicit FtpSession(std::shared_ptr<FtpConnection> connection = std::make_shared<FtpConnection>(),
        FtpSessionOptions options = {});
    ~FtpSession() override;

    bool connect(const RemoteSite &site) override;
    bool isLoggedIn() const override;
    bool isDroppedByServer() override;
    void applyItemSettings(const SessionItemSettings &settings) override;
    bool currentFolder(std::string &path) override;
    bool list(const std::string &path, std::vector<ListingEntry> &entries) override;
    bool changeFolder(const std::string &path) override;
    bool makeFolder(const std::string &name) override;
    bool removeFile(const std::string &name) override;
    bool removeFolder(const std::string &name) override;
    bool rename(const std::string &from, const std::string &to) override;
    bool fileSize(const std::string &name, std::int64_t &sizeBytes) override;
    bool modificationTime(const std::string &name, std::int64_t &unixSeconds) override;
    bool get(const std::string &remoteName, const std::string &localPath, std::int64_t knownSizeBytes,
        bool resume, const TransferProgress &progress) override;
    bool put(const std::string &localPath, const std::string &remoteName,
        const TransferProgress &progress) override;
    bool isGetRefusedUntilUpload() const override;
    std::optional<ServerChecksumOffer> checksumOffer() override;
    bool serverChecksum(const std::string &name, std::int64_t firstByte, std::int64_t endByte,
        core::Checksum &checksum) override;
    bool setDownloadDigest(StreamDigest *digest) override;
    void requestStop(int code) override;
    bool isStopRequested() const override;
    void clearStop() override;
    void stopTransfer(int code) override;
    ErrorCode error() const override;
    bool clearErrorUnlessStopped() override;
    void setObserver(ConnectionObserver observer, void *context) override;
    void disconnect(int reason) override;
    void close() override;

    const FtpSessionOptions &options() const { return m_options; }

    FtpConnection &connection() { return *m_connection; }

private:
    static void onEvent(void *context, const ConnectionNotification &notification);
    void beginTransfer();
    // After a transfer: clears a stop that stopTransfer made, unless requestStop came too.
    void endTransfer();

    const std::shared_ptr<FtpConnection> m_connection;
    const FtpSessionOptions m_options;
    // Driving thread only.
    bool m_passive = true;
    int m_timeoutSeconds = 30;
    ConnectionObserver m_observer = nullptr;
    void *m_observerContext = nullptr;
    std::mutex m_transferLock;
    bool m_transferRunning = false; // guarded by m_transferLock
    bool m_transferStopped = false; // stopTransfer since the running transfer began; guarded likewise
    std::atomic<bool> m_sessionStopped{false}; // requestStop since the last clearStop
    std::atomic<int> m_stopCode{0}; // the code of that request
};

} // namespace bw::net
