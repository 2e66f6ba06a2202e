// SPDX-License-Identifier: MIT
#include "browse/man_ftp_view.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>

#include "browse/drag_text.h"
#include "browse/local_view.h"
#include "core/queue_list.h"
#include "core/queue_notifier.h"
#include "core/url.h"
#include "engine/local_path.h"
#include "platform/file_util.h"
#include "widgets/file_icon_list.h"
#include "widgets/internal_drag_data.h"
#include "widgets/transfer_progress_dialog.h"

namespace bw::browse {

namespace {

bool equalIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

CManFtpView::CManFtpView(core::QueueList &queue, engine::LeaseBoard &leases, QWidget *parent)
    : FilePaneView(parent)
    , m_queue(queue)
    , m_controller(std::make_unique<ManualConnectionController>(queue, leases))
    , m_prompts(BrowsePrompts::modalDialogs())
    , m_directoryBox(new QLineEdit)
{
    setObjectName(QStringLiteral("remoteView"));
    setCaption(tr("Remote Site"));
    auto *strip = new QWidget;
    auto *stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(2, 2, 2, 2);
    m_directoryBox->setReadOnly(true);
    m_directoryBox->setObjectName(QStringLiteral("directoryBox"));
    stripLayout->addWidget(m_directoryBox);
    setControlStrip(strip, m_directoryBox);

    ManualConnectionController *controller = m_controller.get();
    connect(controller, &ManualConnectionController::logLine, this,
        [this](unsigned message, const QString &text) { log(message, text); });
    connect(controller, &ManualConnectionController::listingReady, this, &CManFtpView::onListingReady);
    connect(controller, &ManualConnectionController::transferProgress, this,
        [this](int percent, qint64 doneBytes) {
            if (!m_progress)
                return;
            m_progress->setPosition(percent);
            m_progress->setBytesDone(static_cast<std::uint64_t>(std::max<qint64>(doneBytes, 0)));
        });
    connect(
        controller, &ManualConnectionController::transferFinished, this, &CManFtpView::onTransferFinished);
    connect(controller, &ManualConnectionController::detached, this, &CManFtpView::onDetached);
    connect(controller, &ManualConnectionController::busyChanged, this, &CManFtpView::busyChanged);
}

CManFtpView::~CManFtpView()
{
    // The window around may be half gone already: tell nobody.
    blockSignals(true);
    QObject::disconnect(m_controller.get(), nullptr, this, nullptr);
    closeTransferWindow();
    m_controller.reset();
}

bool CManFtpView::isConnected() const
{
    return m_attached;
}

net::RemoteSession *CManFtpView::connection() const
{
    return m_attached ? m_controller->connection() : nullptr;
}

bool CManFtpView::hasSelection() const
{
    return !list()->selectedRows().isEmpty();
}

void CManFtpView::log(unsigned message, const QString &text)
{
    emit logLine(message, 0, text);
}

bool CManFtpView::check()
{
    if (m_attached && !isBusy())
        m_controller->dropIfLost();
    return m_attached && !isBusy();
}

void CManFtpView::takeOver(std::int32_t itemId)
{
    // The commands under way belong to the connection held now.
    if (isBusy())
        return;
    if (m_itemId != 0 && core::isInProgressStatus(core::snapshotOrVanished(m_queue, m_itemId).status))
        m_queue.setStatus(m_itemId, core::ItemStatus::StatusInactiveManualConnection);
    // The earlier item keeps its lent connection, but no longer reports to this view.
    m_controller->leaveLent();
    m_itemId = itemId;
    if (!m_controller->attach(itemId)) {
        m_attached = false;
        emit connectionChanged(false);
        return;
    }
    m_attached = true;
    m_queue.setStatus(itemId, core::ItemStatus::StatusActiveManualConnection);
    emit connectionChanged(true);
    requestListing(false);
}

void CManFtpView::disconnect(bool temporary)
{
    const core::ItemStatus status = temporary ? core::ItemStatus::StatusReconnectAfterTransfers
                                              : core::ItemStatus::StatusInactiveManualConnection;
    // Running and waiting transfers stop; the connection goes back once the running command ended.
    for (const PendingTransfer &transfer : m_transfers)
        transfer.abort->store(true);
    m_controller->handBack(static_cast<std::int32_t>(status));
}

void CManFtpView::onDetached()
{
    m_attached = false;
    m_transfers.clear();
    closeTransferWindow();
    list()->setEnabled(true);
    clearListing();
    emit connectionChanged(false);
}

void CManFtpView::clearListing()
{
    list()->deleteAllItems();
    m_directoryBox->clear();
}

bool CManFtpView::requestListing(bool force)
{
    return m_controller->refresh(force);
}

bool CManFtpView::refreshListing(bool force)
{
    if (check())
        return requestListing(force);
    if (!m_attached)
        clearListing();
    return false;
}

void CManFtpView::onListingReady(const RemoteListing &listing)
{
    if (!m_attached)
        return;
    m_currentDirectory = listing.directory;
    m_directoryBox->setText(QString::fromStdString(listing.shownDirectory));

    struct Row
    {
        ListEntry entry;
        QStringList texts;
        int image = 0;
    };

    std::vector<Row> rowsToShow;
    rowsToShow.push_back(
        {ListEntry{"..", true, 0, 0}, {QStringLiteral("..")}, widgets::FileIconList::kParentImage});
    for (const CachedEntry &item : listing.entries) {
        if (item.name == "." || item.name == "..")
            continue;
        Row row;
        row.entry = ListEntry{item.name, item.isDirectory, 1, item.size};
        const QString name = QString::fromStdString(item.name);
        if (item.isDirectory) {
            row.texts = {name, QString(), QString()};
            row.image = widgets::FileIconList::kFolderImage;
        } else {
            row.texts = {name, QString::number(item.size), QString::fromStdString(item.dateText)};
            row.image = images()->iconForRemoteName(name, false);
        }
        rowsToShow.push_back(std::move(row));
    }
    std::stable_sort(rowsToShow.begin(), rowsToShow.end(),
        [](const Row &a, const Row &b) { return listEntryLess(a.entry, b.entry); });

    widgets::TiledListCtrl *rows = list();
    rows->setRedraw(false);
    rows->deleteAllItems();
    for (const Row &row : rowsToShow) {
        const int index = rows->appendItem(row.texts, row.image);
        rows->setRecord(index, widgets::RowRecord{-1, -1, 0, QVariant::fromValue(row.entry)});
    }
    rows->setRedraw(true);
}

void CManFtpView::openDirectory()
{
    if (!check())
        return;
    const int row = list()->firstSelectedRow();
    if (row < 0 || !entry(row).isDirectory)
        return;
    m_controller->changeDirectory(entry(row).name);
    requestListing(false);
}

void CManFtpView::deleteSelection()
{
    if (!check())
        return;
    if (!m_prompts.confirm(this, tr("Are you sure?"), tr("Delete")))
        return;
    std::vector<std::string> names;
    for (int row : list()->selectedRows()) {
        const ListEntry item = entry(row);
        // The ".." row names the parent folder: never remove that.
        if (item.group != 0)
            names.push_back(item.name);
    }
    if (!names.empty())
        m_controller->remove(names);
    requestListing(true);
}

void CManFtpView::renameSelection()
{
    if (!check())
        return;
    for (int row : list()->selectedRows()) {
        const ListEntry item = entry(row);
        if (item.group == 0)
            continue;
        const std::optional<QString> name = m_prompts.askName(this, QString::fromStdString(item.name));
        if (name)
            m_controller->rename(item.name, name->toStdString());
    }
    requestListing(true);
}

void CManFtpView::makeFolder()
{
    if (!check())
        return;
    const std::optional<QString> name = m_prompts.askName(this, tr("path"));
    if (name)
        m_controller->makeDirectory(name->toStdString());
    requestListing(true);
}

void CManFtpView::changeDirectory()
{
    if (!check())
        return;
    const std::optional<QString> path = m_prompts.askName(this, QStringLiteral("/"));
    if (path)
        m_controller->changeDirectory(path->toStdString());
    requestListing(false);
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
    PendingTransfer transfer{
        QString::fromStdString(name), sizeBytes, true, std::make_shared<std::atomic<bool>>(false), *path};
    const ManualConnectionController::AbortFlag abort = transfer.abort;
    pushTransfer(std::move(transfer));
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
    PendingTransfer transfer{
        QString::fromStdString(name), size, true, std::make_shared<std::atomic<bool>>(false), {}};
    const ManualConnectionController::AbortFlag abort = transfer.abort;
    pushTransfer(std::move(transfer));
    return m_controller->download(name, directory + name, size, abort) || dropLastTransfer();
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
    PendingTransfer transfer{QString::fromStdString(name), static_cast<std::uint64_t>(size), false,
        std::make_shared<std::atomic<bool>>(false), {}};
    const ManualConnectionController::AbortFlag abort = transfer.abort;
    pushTransfer(std::move(transfer));
    return m_controller->upload(localPath, name, abort) || dropLastTransfer();
}

void CManFtpView::pushTransfer(PendingTransfer transfer)
{
    // The window comes before the transfer is queued, so an Abort at once stops it before it starts.
    m_transfers.push_back(std::move(transfer));
    if (m_transfers.size() == 1)
        showTransferWindow();
}

bool CManFtpView::dropLastTransfer()
{
    m_transfers.pop_back();
    if (m_transfers.empty()) {
        closeTransferWindow();
        list()->setEnabled(true);
    }
    return false;
}

void CManFtpView::showTransferWindow()
{
    const PendingTransfer &transfer = m_transfers.front();
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
    if (m_transfers.empty())
        return;
    const bool download = m_transfers.front().download;
    const std::string viewPath = m_transfers.front().viewPath;
    // The last bytes can arrive while Abort is being pressed: the user asked not to see the file.
    const bool aborted = m_transfers.front().abort->load();
    closeTransferWindow();
    m_transfers.pop_front();
    if (!viewPath.empty()) {
        if (completed && !aborted)
            m_prompts.openUrl(QUrl::fromLocalFile(QString::fromStdString(viewPath)));
        else
            m_viewFolder.discard(viewPath);
    } else if (download && m_localView) {
        m_localView->listDirectory();
    }
    if (!m_transfers.empty()) {
        showTransferWindow();
    } else {
        list()->setEnabled(true);
        m_directoryBox->setText(QString::fromStdString(m_currentDirectory));
    }
    emit transferFinished(name, completed);
}

QString CManFtpView::dragText() const
{
    const core::QueueItem item = core::snapshotOrVanished(m_queue, m_itemId);
    QStringList entries;
    for (int row : list()->selectedRows())
        entries << remoteDragEntry(m_itemId, item.user, item.password, item.host, item.port,
            m_currentDirectory, entry(row).name, item.scheme);
    return joinDragEntries(entries);
}

QMimeData *CManFtpView::dragData() const
{
    const core::QueueItem item = core::snapshotOrVanished(m_queue, m_itemId);
    QStringList shown;
    for (int row : list()->selectedRows())
        shown << publicRemoteUrl(
            item.user, item.host, item.port, m_currentDirectory, entry(row).name, item.scheme);
    return new widgets::InternalDragData(dragText(), joinPublicEntries(shown));
}

void CManFtpView::startDrag()
{
    if (list()->selectedRows().isEmpty() || !isConnected())
        return;
    if (m_localView)
        m_localView->setDropEnabled(true);
    execDrag(dragData());
    if (m_localView)
        m_localView->setDropEnabled(false);
}

void CManFtpView::dropText(const QString &text)
{
    if (check()) {
        std::vector<std::string> paths;
        for (const QString &part : splitDragText(text)) {
            std::string path = localEntryPath(part);
            if (!path.empty())
                paths.push_back(std::move(path));
        }
        uploadFiles(paths);
        return;
    }
    if (m_attached || isBusy())
        return;
    const qsizetype separator = text.indexOf(kDragSeparator);
    core::Url url;
    if (!core::parseUrl((separator < 0 ? text : text.left(separator)).toStdString(), url))
        return;
    if (!core::isFtpScheme(url.scheme))
        return;
    // A site reached over TLS is browsed over TLS too.
    const std::string request = std::string(core::schemePrefix(core::downloadScheme(url.scheme))) + url.user
        + ":" + url.password + "@" + core::hostForUrl(url.host) + ":" + std::to_string(url.port);
    if (m_queue.addItem(request, "", 0, -1, -1, -1, -1) != 0)
        m_queue.notifyQueueChanged(true, 0);
}

QMenu *CManFtpView::buildContextMenu(int row)
{
    auto *menu = new QMenu(this);
    // Every command runs on the held connection (View File downloads too): they wait until the running
    // commands have ended.
    const bool ready = m_attached && !isBusy();
    auto add = [menu, ready](const QString &text, int command) {
        QAction *action = menu->addAction(text);
        action->setData(command);
        action->setEnabled(ready);
    };
    if (row >= 0) {
        add(tr("Delete"), CommandDelete);
        add(tr("Rename..."), CommandRename);
        add(tr("View File..."), CommandViewFile);
    }
    add(tr("Make Dir..."), CommandMakeDir);
    add(tr("Change Dir..."), CommandChangeDir);
    add(tr("Refresh"), CommandRefresh);
    return menu;
}

void CManFtpView::activateFiles()
{
    if (canDownload())
        downloadSelection();
}

void CManFtpView::runCommand(int command)
{
    switch (command) {
    case CommandDelete:
        deleteSelection();
        break;
    case CommandRename:
        renameSelection();
        break;
    case CommandViewFile:
        viewSelection();
        break;
    case CommandMakeDir:
        makeFolder();
        break;
    case CommandChangeDir:
        changeDirectory();
        break;
    case CommandRefresh:
        refreshListing(true);
        break;
    default:
        break;
    }
}

} // namespace bw::browse
