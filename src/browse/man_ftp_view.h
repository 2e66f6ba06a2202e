// SPDX-License-Identifier: MIT
// The remote browser pane: lists one folder of an FTP server over a connection lent by a transfer job,
// moves through folders, deletes, renames and creates, transfers files directly with the "File
// Transfer" window, and exchanges files with the local pane by drag and drop. Every command and reply
// of the lent connection is sent out as a log line with thread id 0 (the "Manual Log"). GUI thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>

#include "browse/browse_prompts.h"
#include "browse/file_pane_view.h"
#include "core/queue_item.h"
#include "widgets/remote_browser_link.h"
#include "widgets/transfer_progress_dialog.h"

class QLineEdit;
class QMenu;

namespace bw::core {
class QueueList;
}

namespace bw::net {
class FtpConnection;
struct ConnectionNotification;
} // namespace bw::net

namespace bw::browse {

class CLocalView;

class CManFtpView : public FilePaneView, public widgets::RemoteBrowserLink
{
    Q_OBJECT

public:
    // The context menu command of the remote browser alone.
    enum RemoteCommand
    {
        CommandChangeDir = 305,
    };

    explicit CManFtpView(core::QueueList &queue, QWidget *parent = nullptr);
    // Gives a held connection back without listing.
    ~CManFtpView() override;

    // RemoteBrowserLink.
    bool isConnected() const override;

    std::int32_t itemId() const override { return m_itemId; }

    QString currentDirectory() const override { return QString::fromStdString(m_currentDirectory); }

    bool hasSelection() const override;
    void takeOver(std::int32_t itemId) override;
    void disconnect(bool temporary) override;
    void makeFolder() override;
    void deleteSelection() override;

    // Drops a connection that is no longer logged in (the item fails); then true when attached.
    bool check();
    bool refreshListing(bool force);
    void openDirectory() override;
    void renameSelection();
    void changeDirectory();
    void viewSelection();

    // The Download command: every selected row into the current working directory.
    bool canDownload() const;
    void downloadSelection();
    // Direct transfers with the "File Transfer" window; true when the file arrived whole.
    bool downloadFile(const std::string &name, const std::string &localDirectory);
    bool uploadFile(const std::string &localPath);

    // Drag and drop.
    QString dragText() const;
    void dropText(const QString &text) override;

    void setLocalView(CLocalView *view) { m_localView = view; }

    void setPrompts(BrowsePrompts prompts) { m_prompts = std::move(prompts); }

    bool isAttached() const { return m_attached; }

    net::FtpConnection *connection() const { return m_connection; }

    std::string currentDirectoryPath() const { return m_currentDirectory; }

    QLineEdit *directoryBox() const { return m_directoryBox; }

    // The "File Transfer" window of the running direct transfer, or null.
    widgets::TransferProgressDialog *progressWindow() const { return m_progress; }

    bool isTransferring() const { return m_transferRunning; }

    QMenu *buildContextMenu(int row) override;

signals:
    // A protocol line (WM_LOG_SENT or WM_LOG_RECEIVED) or a status line (WM_LOG_STATUS); thread id 0.
    void logLine(unsigned message, quint64 threadId, const QString &text);
    // Attached or detached.
    void connectionChanged(bool attached);
    // A direct transfer is running; tests and the window follow it.
    void transferStarted(const QString &name);

private:
    static void onConnectionEvent(void *context, const net::ConnectionNotification &notification);
    void giveBack(core::ItemStatus status);
    void log(unsigned message, const QString &text);
    // Follows a started direct transfer until it completes, fails or is aborted.
    bool runTransfer(bool started, const std::string &localPath, bool download);
    void beginTransfer(const QString &name, std::uint64_t size);
    void startDrag() override;
    void runCommand(int command) override;

    core::QueueList &m_queue;
    BrowsePrompts m_prompts;
    net::FtpConnection *m_connection = nullptr;
    std::int32_t m_itemId = 0;
    bool m_attached = false;
    bool m_abortFlag = false;
    // A direct transfer runs: commands wait, and a disconnect is carried out when it has ended.
    bool m_transferRunning = false;
    std::optional<core::ItemStatus> m_pendingGiveBack;
    std::string m_currentDirectory;
    QLineEdit *m_directoryBox;
    QPointer<widgets::TransferProgressDialog> m_progress;
    CLocalView *m_localView = nullptr;
};

} // namespace bw::browse
