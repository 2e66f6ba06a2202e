// SPDX-License-Identifier: MIT
// The remote browser pane: lists one folder of an FTP server over a connection lent by a transfer job,
// moves through folders, deletes, renames and creates, transfers files directly with the "File
// Transfer" window, and exchanges files with the local pane by drag and drop. The commands run on a
// ManualConnectionController, one after another, while the pane stays responsive; commands wait (are
// refused) until the running ones have ended. Every command and reply of the lent connection is sent
// out as a log line with thread id 0 (the "Manual Log"). GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>

#include "browse/browse_prompts.h"
#include "browse/file_pane_view.h"
#include "browse/manual_connection_controller.h"
#include "browse/pending_transfers.h"
#include "browse/view_file_folder.h"
#include "core/queue_item.h"
#include "widgets/remote_browser_link.h"
#include "widgets/transfer_progress_dialog.h"

class QLineEdit;
class QMenu;

namespace bw::core {
class QueueList;
}

namespace bw::engine {
class LeaseBoard;
}

namespace bw::net {
class RemoteSession;
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
        CommandDownload = 306,
    };

    // `leases`: where the transfer jobs offer their sessions for manual browsing.
    CManFtpView(core::QueueList &queue, engine::LeaseBoard &leases, QWidget *parent = nullptr);
    // Gives a held connection back without listing.
    ~CManFtpView() override;

    // RemoteBrowserLink.
    bool isConnected() const override;

    std::int32_t itemId() const override { return m_itemId; }

    QString currentDirectory() const override { return QString::fromStdString(m_currentDirectory); }

    bool hasSelection() const override;
    // Refused while commands run on the held connection.
    void takeOver(std::int32_t itemId) override;
    // While commands run, the running one is stopped (a transfer aborted) and the connection goes back
    // when it has ended.
    void disconnect(bool temporary) override;
    void makeFolder() override;
    void deleteSelection() override;

    // Drops a connection that is no longer logged in (the item fails); then true when attached and no
    // command runs, so a new one may start.
    bool check();
    // True when a listing was asked for; the rows follow when it arrives.
    bool refreshListing(bool force);
    void openDirectory() override;
    void renameSelection() override;
    void changeDirectory();
    // View File: each selected file is downloaded with the "File Transfer" window into a private
    // temporary file, which the desktop then opens with its program for the file's type. True when one
    // was queued.
    bool viewSelection();

    // The Download command: every selected row into the current working directory.
    bool canDownload() const;
    void downloadSelection();
    // Direct transfers with the "File Transfer" window, one after another; true when queued. Each ends
    // with transferFinished. The uploads of a batch are followed by a fresh listing.
    bool downloadFile(const std::string &name, const std::string &localDirectory);
    bool downloadFiles(const std::vector<std::string> &names, const std::string &localDirectory);
    bool uploadFile(const std::string &localPath);
    bool uploadFiles(const std::vector<std::string> &localPaths);

    // Drag and drop. The text with logins stays inside Bellwick; dragData offers others only addresses
    // without passwords (the caller owns it).
    QString dragText() const;
    QMimeData *dragData() const;
    void dropText(const QString &text) override;
    void dropOutsideText(const QString &text) override;

    void setLocalView(CLocalView *view) { m_localView = view; }

    // What a download does when its local name is another file (View File always fills its own file).
    void setIfFileExists(engine::IfFileExists rule) { m_ifFileExists = rule; }

    void setPrompts(BrowsePrompts prompts) { m_prompts = std::move(prompts); }

    bool isAttached() const { return m_attached; }

    // The held connection, for comparison only: the controller's thread drives it.
    net::RemoteSession *connection() const;

    ManualConnectionController &controller() const { return *m_controller; }

    std::string currentDirectoryPath() const { return m_currentDirectory; }

    QLineEdit *directoryBox() const { return m_directoryBox; }

    // The "File Transfer" window of the direct transfer shown, or null.
    widgets::TransferProgressDialog *progressWindow() const { return m_progress; }

    // The private folder of the files View File opened.
    const ViewFileFolder &viewFolder() const { return m_viewFolder; }

    // A direct transfer is queued or runs.
    bool isTransferring() const { return !m_transfers.isEmpty(); }

    // Downloads, uploads and views running or waiting.
    std::size_t transferCount() const { return m_transfers.size(); }

    // A download the quit interrupts: the queue URL of its file, with the login, and its local file.
    struct InterruptedDownload
    {
        std::string url;
        std::string localPath;
    };

    // Before the program quits: the downloads running or waiting that nobody aborted, for the queue to
    // resume; the running one keeps its part file when the quit stops it.
    std::vector<InterruptedDownload> keepInterruptedDownloads();

    // Commands are queued or run on the held connection.
    bool isBusy() const { return m_controller->isBusy(); }

    QMenu *buildContextMenu(int row) override;

signals:
    // A protocol line (WM_LOG_SENT or WM_LOG_RECEIVED) or a status line (WM_LOG_STATUS); thread id 0.
    void logLine(unsigned message, quint64 threadId, const QString &text);
    // Attached or detached.
    void connectionChanged(bool attached);
    // A direct transfer got its "File Transfer" window; tests and the window follow it.
    void transferStarted(const QString &name);
    void transferFinished(const QString &name, bool completed);
    // Commands started running, or all have ended.
    void busyChanged(bool busy);

private:
    void log(unsigned message, const QString &text);
    bool requestListing(bool force);
    bool queueDownload(const std::string &name, const std::string &localDirectory);
    bool queueUpload(const std::string &localPath);
    bool queueView(const std::string &name, std::uint64_t sizeBytes);
    // Queues a transfer (its window first when it runs at once) and returns its abort flag.
    ManualConnectionController::AbortFlag pushTransfer(PendingTransfers::Transfer transfer);
    // The controller refused the transfer just pushed: forget it (always false).
    bool dropLastTransfer();
    void showTransferWindow();
    void closeTransferWindow();
    void clearListing();
    void onListingReady(const RemoteListing &listing);
    void onTransferFinished(const QString &name, bool completed);
    void onDetached();
    void startDrag() override;
    void runCommand(int command) override;
    void activateFiles() override;

    void viewSelectedFiles() override { viewSelection(); }

    void refreshFolder() override { refreshListing(true); }

    bool acceptsDrop() const override { return !isBusy(); }

    core::QueueList &m_queue;
    std::unique_ptr<ManualConnectionController> m_controller;
    BrowsePrompts m_prompts;
    std::int32_t m_itemId = 0;
    bool m_attached = false;
    std::string m_currentDirectory;
    QLineEdit *m_directoryBox;
    // Queued and running direct transfers in order; the first one has the "File Transfer" window.
    PendingTransfers m_transfers;
    QPointer<widgets::TransferProgressDialog> m_progress;
    CLocalView *m_localView = nullptr;
    ViewFileFolder m_viewFolder;
    engine::IfFileExists m_ifFileExists = engine::IfFileExists::Rename;
};

} // namespace bw::browse
