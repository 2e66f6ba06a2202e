// SPDX-License-Identifier: MIT
// The remote browser's direct transfers: downloads, uploads and View File queued on the held connection
// one after another, each shown in the "File Transfer" window while it runs.
#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include <QLineEdit>
#include <QUrl>

#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "core/queue_list.h"
#include "core/queue_notifier.h"
#include "engine/local_path.h"
#include "engine/transfer_job.h"
#include "platform/file_util.h"
#include "widgets/transfer_progress_dialog.h"

namespace bw::browse {

namespace {

// The queue's URL of a file of `site`: the login escaped, so that parsing gives back each part.
std::string queueUrlOf(const core::QueueItem &site, const std::string &remotePath)
{
    const core::UrlScheme scheme =
        core::isRemoteSessionScheme(site.scheme) ? core::downloadScheme(site.scheme) : core::SchemeFtp;
    return std::string(core::schemePrefix(scheme)) + core::escapeUserInfo(site.user) + ":"
        + core::escapeUserInfo(site.password) + "@" + core::hostForUrl(site.host) + ":"
        + std::to_string(site.port) + engine::childUrlName(remotePath);
}

bool equalIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

std::vector<CManFtpView::InterruptedDownload> CManFtpView::keepInterruptedDownloads()
{
    const std::optional<core::QueueItem> site = m_queue.snapshot(m_itemId);
    if (!m_attached || !site)
        return {};
    m_controller->keepInterruptedDownload();
    std::vector<InterruptedDownload> downloads;
    for (const PendingTransfers::Transfer &transfer : m_transfers.unabortedDownloads())
        downloads.push_back(
            {queueUrlOf(*site, transfer.remoteFolder + transfer.name.toStdString()), transfer.localPath});
    return downloads;
}

bool CManFtpView::viewSelection()
{
    if (!check())
        return false;
    bool queued = false;
    for (int row : list()->selectedRows()) {
        const ListEntry item = entry(row);
        if (item.group != 0 && !item.isDirectory)
            queued = queueView(item.name, item.size) || queued;
    }
    return queued;
}

bool CManFtpView::queueView(const std::string &name, std::uint64_t sizeBytes)
{
    // The file goes where only this user can read it: no login ever passes to the viewer in an address.
    const std::optional<std::string> path = m_viewFolder.newFile(name);
    if (!path) {
        log(core::kWmLogStatus,
            tr("Not viewed: no private temporary file for \"%1\".").arg(QString::fromStdString(name)));
        return false;
    }
    const ManualConnectionController::AbortFlag abort =
        pushTransfer({QString::fromStdString(name), sizeBytes, true, nullptr, *path, {}, {}});
    if (m_controller->download(name, *path, sizeBytes, abort))
        return true;
    m_viewFolder.discard(*path);
    return dropLastTransfer();
}

bool CManFtpView::canDownload() const
{
    return isConnected() && !isBusy() && hasSelection();
}

void CManFtpView::downloadSelection()
{
    // Downloads go to the folder the local pane shows.
    if (!m_localView)
        return;
    const std::string directory = m_localView->directory();
    std::vector<std::string> names;
    for (int row : list()->selectedRows())
        names.push_back(entry(row).name);
    downloadFiles(names, directory);
}

bool CManFtpView::downloadFile(const std::string &name, const std::string &localDirectory)
{
    return downloadFiles({name}, localDirectory);
}

bool CManFtpView::downloadFiles(const std::vector<std::string> &names, const std::string &localDirectory)
{
    if (!check())
        return false;
    bool queued = false;
    for (const std::string &name : names)
        queued = queueDownload(name, localDirectory) || queued;
    return queued;
}

bool CManFtpView::queueDownload(const std::string &name, const std::string &localDirectory)
{
    std::string directory = localDirectory;
    while (!directory.empty() && directory.back() == '\\')
        directory.pop_back();
    while (!directory.empty() && directory.back() == '/')
        directory.pop_back();
    directory.push_back('/');
    // A name from the server becomes one file in the local folder, never a path elsewhere.
    if (!engine::isSafePathComponent(name)) {
        log(core::kWmLogStatus,
            tr("Not downloaded: unsafe file name \"%1\".").arg(QString::fromStdString(name)));
        return false;
    }
    std::uint64_t size = 0;
    for (int row = 0; row < list()->rowCount(); ++row) {
        const ListEntry item = entry(row);
        if (equalIgnoringCase(item.name, name)) {
            size = item.size;
            break;
        }
    }
    const std::string localPath = directory + name;
    const ManualConnectionController::AbortFlag abort =
        pushTransfer({QString::fromStdString(name), size, true, nullptr, {}, localPath, m_currentDirectory});
    return m_controller->download(name, localPath, size, abort, m_ifFileExists) || dropLastTransfer();
}

bool CManFtpView::uploadFile(const std::string &localPath)
{
    return check() && queueUpload(localPath);
}

bool CManFtpView::uploadFiles(const std::vector<std::string> &localPaths)
{
    if (!check())
        return false;
    bool queued = false;
    for (const std::string &path : localPaths)
        queued = queueUpload(path) || queued;
    requestListing(true);
    return queued;
}

bool CManFtpView::queueUpload(const std::string &localPath)
{
    const std::size_t slash = localPath.find_last_of('/');
    const std::string name = slash == std::string::npos ? std::string() : localPath.substr(slash + 1);
    if (name.empty() || !engine::isSafePathComponent(name)) {
        log(core::kWmLogStatus,
            tr("Not uploaded: \"%1\" names no file.").arg(QString::fromStdString(localPath)));
        return false;
    }
    const std::int64_t size = platform::fileSize(localPath);
    if (size < 0) {
        log(core::kWmLogStatus,
            tr("Not uploaded: \"%1\" is not a file.").arg(QString::fromStdString(localPath)));
        return false;
    }
    const ManualConnectionController::AbortFlag abort = pushTransfer(
        {QString::fromStdString(name), static_cast<std::uint64_t>(size), false, nullptr, {}, {}, {}});
    return m_controller->upload(localPath, name, abort) || dropLastTransfer();
}

ManualConnectionController::AbortFlag CManFtpView::pushTransfer(PendingTransfers::Transfer transfer)
{
    // The window comes before the transfer is queued, so an Abort at once stops it before it starts.
    ManualConnectionController::AbortFlag abort = m_transfers.push(std::move(transfer));
    if (m_transfers.size() == 1)
        showTransferWindow();
    return abort;
}

bool CManFtpView::dropLastTransfer()
{
    m_transfers.dropLast();
    if (m_transfers.isEmpty()) {
        closeTransferWindow();
        list()->setEnabled(true);
    }
    return false;
}

void CManFtpView::showTransferWindow()
{
    const PendingTransfers::Transfer &transfer = m_transfers.first();
    m_progress = new widgets::TransferProgressDialog(window());
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->setTotal(transfer.sizeBytes);
    m_progress->start(transfer.name, transfer.abort.get());
    // The transfer runs in one call on the session's thread: Abort must stop it, not only flag it.
    connect(m_progress, &widgets::TransferProgressDialog::aborted, m_controller.get(),
        &ManualConnectionController::abortTransfer);
    list()->setEnabled(false);
    emit transferStarted(transfer.name);
}

void CManFtpView::closeTransferWindow()
{
    if (m_progress) {
        // The window's Abort points at the transfer's flag: it must not outlive it.
        m_progress->hide();
        delete m_progress.data();
    }
    m_progress = nullptr;
}

void CManFtpView::onTransferFinished(const QString &name, bool completed)
{
    // Transfers skipped after the connection went back were dropped here already.
    if (m_transfers.isEmpty())
        return;
    const bool download = m_transfers.first().download;
    const std::string viewPath = m_transfers.first().viewPath;
    // The last bytes can arrive while Abort is being pressed: the user asked not to see the file.
    const bool aborted = m_transfers.first().abort->load();
    closeTransferWindow();
    m_transfers.dropFirst();
    if (!viewPath.empty()) {
        if (completed && !aborted)
            m_prompts.openUrl(QUrl::fromLocalFile(QString::fromStdString(viewPath)));
        else
            m_viewFolder.discard(viewPath);
    } else if (download && m_localView) {
        m_localView->listDirectory();
    }
    if (!m_transfers.isEmpty()) {
        showTransferWindow();
    } else {
        list()->setEnabled(true);
        m_directoryBox->setText(QString::fromStdString(m_currentDirectory));
    }
    emit transferFinished(name, completed);
}

} // namespace bw::browse
