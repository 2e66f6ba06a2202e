// SPDX-License-Identifier: MIT
#include "browse/man_ftp_view.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLineEdit>
#include <QTimer>

#include "browse/drag_text.h"
#include "browse/local_view.h"
#include "core/queue_list.h"
#include "core/url.h"
#include "widgets/file_icon_list.h"
#include "widgets/internal_drag_data.h"
#include "widgets/transfer_progress_dialog.h"

namespace bw::browse {

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
    m_directoryBox->setObjectName(QStringLiteral("directoryBox"));
    m_directoryBox->setToolTip(tr("Type a folder and press Enter"));
    connect(m_directoryBox, &QLineEdit::returnPressed, this, [this] {
        const QString typed = m_directoryBox->text().trimmed();
        if (!typed.isEmpty() && check()) {
            m_controller->changeDirectory(typed.toStdString());
            requestListing(false);
        }
    });
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
    m_transfers.abortAll();
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

    std::vector<PaneRow> rowsToShow;
    rowsToShow.push_back(
        {ListEntry{"..", true, 0, 0}, {QStringLiteral("..")}, widgets::FileIconList::kParentImage});
    for (const CachedEntry &item : listing.entries) {
        if (item.name == "." || item.name == "..")
            continue;
        PaneRow row;
        row.entry = ListEntry{item.name, item.isDirectory, 1, item.size};
        const QString name = QString::fromStdString(item.name);
        if (item.isDirectory) {
            row.texts = {name, QString(), QString()};
            row.image = widgets::FileIconList::kFolderImage;
        } else {
            row.texts = {name, fileSizeText(item.size), QString::fromStdString(item.dateText)};
            row.image = images()->iconForRemoteName(name, false);
        }
        rowsToShow.push_back(std::move(row));
    }
    widgets::TiledListCtrl *rows = list();
    rows->setRedraw(false);
    rows->deleteAllItems();
    appendSortedRows(std::move(rowsToShow));
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
    std::vector<std::string> names;
    QStringList shown;
    for (int row : list()->selectedRows()) {
        const ListEntry item = entry(row);
        // The ".." row names the parent folder: never remove that.
        if (item.group != 0) {
            names.push_back(item.name);
            shown << QString::fromStdString(item.name);
        }
    }
    if (names.empty() || !m_prompts.confirm(this, deleteQuestion(shown), tr("Delete")))
        return;
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
        const std::optional<QString> name =
            m_prompts.askName(this, tr("Rename"), tr("New name:"), QString::fromStdString(item.name));
        if (name && !name->isEmpty())
            m_controller->rename(item.name, name->toStdString());
    }
    requestListing(true);
}

void CManFtpView::makeFolder()
{
    if (!check())
        return;
    const std::optional<QString> name =
        m_prompts.askName(this, tr("New Folder"), tr("Folder name:"), QString());
    if (name && !name->isEmpty())
        m_controller->makeDirectory(name->toStdString());
    requestListing(true);
}

void CManFtpView::changeDirectory()
{
    if (!check())
        return;
    const std::optional<QString> path =
        m_prompts.askName(this, tr("Change Folder"), tr("Folder:"), QStringLiteral("/"));
    if (path && !path->isEmpty())
        m_controller->changeDirectory(path->toStdString());
    requestListing(false);
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

void CManFtpView::dropOutsideText(const QString &text)
{
    // Another program's drop that names local files would upload them: only when the user says so,
    // and asked once the drop has ended.
    const bool namesLocalFiles = std::ranges::any_of(
        splitDragText(text), [](const QString &part) { return !localEntryPath(part).empty(); });
    if (!namesLocalFiles || !check()) {
        dropText(text);
        return;
    }
    QTimer::singleShot(0, this, [this, text] {
        const QString question = tr("Another program dropped files of this computer here. Upload them to "
                                    "the server?\n\n%1")
                                     .arg(QStringList(splitDragText(text)).join(u'\n'));
        if (m_prompts.confirm(this, question, tr("Upload")))
            dropText(text);
    });
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
    if (!core::isRemoteSessionScheme(url.scheme))
        return;
    // A site reached over TLS is browsed over TLS too.
    const std::string request = std::string(core::schemePrefix(core::downloadScheme(url.scheme))) + url.user
        + ":" + url.password + "@" + core::hostForUrl(url.host) + ":" + std::to_string(url.port);
    if (m_queue.addItem(request, "", 0, -1, -1, -1, -1) != 0)
        m_queue.notifyQueueChanged(true, 0);
}

QMenu *CManFtpView::buildContextMenu(int row)
{
    // Every command runs on the held connection (View File downloads too): they wait until the running
    // commands have ended.
    return buildFileMenu(row, m_attached && !isBusy(), {{tr("Change Dir..."), CommandChangeDir}},
        {{tr("Download"), CommandDownload}});
}

void CManFtpView::activateFiles()
{
    if (canDownload())
        downloadSelection();
}

void CManFtpView::runCommand(int command)
{
    if (command == CommandChangeDir)
        changeDirectory();
    else if (command == CommandDownload)
        downloadSelection();
    else
        FilePaneView::runCommand(command);
}

} // namespace bw::browse
