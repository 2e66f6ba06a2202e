// SPDX-License-Identifier: MIT
#include "browse/man_ftp_view.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>

#include "browse/drag_text.h"
#include "browse/local_view.h"
#include "core/queue_list.h"
#include "core/queue_notifier.h"
#include "core/url.h"
#include "engine/local_path.h"
#include "net/ftp_connection.h"
#include "platform/file_util.h"
#include "widgets/file_icon_list.h"
#include "widgets/transfer_progress_dialog.h"

namespace bw::browse {

namespace {

constexpr int kTransferWaitMs = 100;
constexpr int kAbortWaitMs = 5000;

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool equalIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

    ~WaitCursor() { QApplication::restoreOverrideCursor(); }

    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

CManFtpView::CManFtpView(core::QueueList &queue, QWidget *parent)
    : FilePaneView(parent)
    , m_queue(queue)
    , m_prompts(BrowsePrompts::modalDialogs())
    , m_directoryBox(new QLineEdit)
{
    setObjectName(QStringLiteral("remoteView"));
    setCaption(QStringLiteral("Remote Site"));
    auto *strip = new QWidget;
    auto *stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(2, 2, 2, 2);
    m_directoryBox->setReadOnly(true);
    m_directoryBox->setObjectName(QStringLiteral("directoryBox"));
    stripLayout->addWidget(m_directoryBox);
    setControlStrip(strip, m_directoryBox);
}

CManFtpView::~CManFtpView()
{
    // The window around may be half gone already: tell nobody.
    blockSignals(true);
    if (m_connection)
        giveBack(core::ItemStatus::StatusInactiveManualConnection);
}

bool CManFtpView::isConnected() const
{
    return m_attached && m_connection != nullptr;
}

bool CManFtpView::hasSelection() const
{
    return !list()->selectedRows().isEmpty();
}

void CManFtpView::log(unsigned message, const QString &text)
{
    emit logLine(message, 0, text);
}

void CManFtpView::onConnectionEvent(void *context, const net::ConnectionNotification &notification)
{
    unsigned message = 0;
    if (notification.kind == net::NotifyCommandSent)
        message = core::kWmLogSent;
    else if (notification.kind == net::NotifyReplyReceived)
        message = core::kWmLogReceived;
    else
        return;
    auto *view = static_cast<CManFtpView *>(context);
    const QString text = QString::fromStdString(notification.text);
    // The view drives the connection on its own thread; should a line come from elsewhere, it is queued.
    QMetaObject::invokeMethod(
        view, [view, message, text] { view->log(message, text); }, Qt::AutoConnection);
}

void CManFtpView::giveBack(core::ItemStatus status)
{
    ListingCache::instance().clear();
    m_attached = false;
    m_queue.setStatus(m_itemId, status);
    if (m_connection) {
        m_connection->setObserver(nullptr, nullptr);
        m_queue.lendConnection(m_itemId, nullptr);
    }
    m_connection = nullptr;
    m_abortFlag = true;
    emit connectionChanged(false);
}

bool CManFtpView::check()
{
    if (m_connection && !m_transferRunning) {
        const net::FtpState state = m_connection->ftpState();
        if (state == net::FtpState::Fresh || state == net::FtpState::Closed) {
            log(core::kWmLogStatus, QStringLiteral("The manual connection was lost."));
            giveBack(core::ItemStatus::StatusFailedManualConnection);
        }
    }
    return m_attached && m_connection && !m_transferRunning;
}

void CManFtpView::takeOver(std::int32_t itemId)
{
    if (m_itemId != 0 && core::isInProgressStatus(core::snapshotOrVanished(m_queue, m_itemId).status))
        m_queue.setStatus(m_itemId, core::ItemStatus::StatusInactiveManualConnection);
    // The earlier item keeps its lent connection, but no longer reports to this view.
    if (m_connection)
        m_connection->setObserver(nullptr, nullptr);
    m_itemId = itemId;
    m_connection = m_queue.lentConnection(itemId);
    if (!m_connection) {
        m_attached = false;
        emit connectionChanged(false);
        return;
    }
    ListingCache::instance().clear();
    m_attached = true;
    m_connection->setObserver(&CManFtpView::onConnectionEvent, this);
    m_queue.setStatus(itemId, core::ItemStatus::StatusActiveManualConnection);
    emit connectionChanged(true);
    refreshListing(false);
}

void CManFtpView::disconnect(bool temporary)
{
    const core::ItemStatus status = temporary ? core::ItemStatus::StatusReconnectAfterTransfers
                                              : core::ItemStatus::StatusInactiveManualConnection;
    if (m_transferRunning) {
        // The running transfer still uses the connection: stop it, and give it back once it ended.
        m_pendingGiveBack = status;
        m_abortFlag = true;
        return;
    }
    if (!m_connection)
        return;
    giveBack(status);
    refreshListing(false);
}

bool CManFtpView::refreshListing(bool force)
{
    check();
    widgets::TiledListCtrl *rows = list();
    rows->setRedraw(false);
    WaitCursor waitCursor;
    rows->deleteAllItems();
    if (!m_attached || !m_connection || m_transferRunning) {
        rows->setRedraw(true);
        m_directoryBox->clear();
        return false;
    }

    std::string directory;
    if (!m_connection->printWorkingDirectory(directory) || directory.empty())
        directory = "/";
    m_directoryBox->setText(QString::fromStdString(directory));
    if (!isSeparator(directory.front()))
        directory.insert(directory.begin(), '/');
    if (!isSeparator(directory.back()))
        directory.push_back('/');
    m_currentDirectory = directory;

    ListingCache &cache = ListingCache::instance();
    const std::vector<CachedEntry> *cached = cache.find(directory);
    std::vector<CachedEntry> fetched;
    bool live = false;
    bool listed = false;
    if (!cached || force) {
        live = true;
        listed = m_connection->list("", true, core::snapshotOrVanished(m_queue, m_itemId).passive);
        if (listed) {
            while (m_connection->parseNextEntry("*")) {
                const net::EntryTime &time = m_connection->entryTime();
                CachedEntry item;
                item.name = m_connection->entryName();
                item.isDirectory = m_connection->entryIsDirectory();
                item.size = static_cast<std::uint64_t>(std::max<std::int64_t>(m_connection->entrySize(), 0));
                item.dateText =
                    dateText(time.year, time.month, time.day, time.hour, time.minute).toStdString();
                fetched.push_back(std::move(item));
            }
        }
    }
    const std::vector<CachedEntry> &source = live ? fetched : *cached;

    struct Row
    {
        ListEntry entry;
        QStringList texts;
        int image = 0;
    };

    std::vector<Row> rowsToShow;
    rowsToShow.push_back(
        {ListEntry{"..", true, 0, 0}, {QStringLiteral("..")}, widgets::FileIconList::kParentImage});
    for (const CachedEntry &item : source) {
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
    if (live && listed)
        cache.store(directory, std::move(fetched));

    std::stable_sort(rowsToShow.begin(), rowsToShow.end(),
        [](const Row &a, const Row &b) { return listEntryLess(a.entry, b.entry); });
    for (const Row &row : rowsToShow) {
        const int index = rows->appendItem(row.texts, row.image);
        rows->setRecord(index, widgets::RowRecord{-1, -1, 0, QVariant::fromValue(row.entry)});
    }
    rows->setRedraw(true);
    return true;
}

void CManFtpView::openDirectory()
{
    if (!check())
        return;
    const int row = list()->firstSelectedRow();
    if (row < 0 || !entry(row).isDirectory)
        return;
    {
        WaitCursor waitCursor;
        if (!m_connection->changeDirectory(entry(row).name))
            m_connection->clearError();
    }
    refreshListing(false);
}

void CManFtpView::deleteSelection()
{
    if (!check())
        return;
    if (!m_prompts.confirm(this, QStringLiteral("Are you sure?"), QStringLiteral("Delete")))
        return;
    for (int row : list()->selectedRows()) {
        const ListEntry item = entry(row);
        // The ".." row names the parent folder: never remove that.
        if (item.group == 0)
            continue;
        if (!m_connection->deleteFile(item.name))
            m_connection->removeDirectory(item.name);
    }
    refreshListing(true);
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
        if (name && m_connection)
            m_connection->rename(item.name, name->toStdString());
    }
    refreshListing(true);
}

void CManFtpView::makeFolder()
{
    if (!check())
        return;
    const std::optional<QString> name = m_prompts.askName(this, QStringLiteral("path"));
    if (name && m_connection)
        m_connection->makeDirectory(name->toStdString());
    refreshListing(true);
}

void CManFtpView::changeDirectory()
{
    if (!check())
        return;
    const std::optional<QString> path = m_prompts.askName(this, QStringLiteral("/"));
    if (path && m_connection && !m_connection->changeDirectory(path->toStdString()))
        m_connection->clearError();
    refreshListing(false);
}

void CManFtpView::viewSelection()
{
    if (m_itemId == 0)
        return;
    const core::QueueItem item = core::snapshotOrVanished(m_queue, m_itemId);
    const std::string &user = item.user;
    const std::string &password = item.password;
    const std::string &host = item.host;
    const std::int32_t port = item.port;
    for (int row : list()->selectedRows())
        m_prompts.openUrl(QUrl(viewFileUrl(user, password, host, port, m_currentDirectory, entry(row).name)));
}

bool CManFtpView::canDownload() const
{
    return isConnected() && !m_transferRunning && hasSelection();
}

void CManFtpView::downloadSelection()
{
    if (!check() || !m_localView)
        return;
    const std::string directory = m_localView->directory();
    std::vector<std::string> names;
    for (int row : list()->selectedRows())
        names.push_back(entry(row).name);
    for (const std::string &name : names)
        downloadFile(name, directory);
}

void CManFtpView::beginTransfer(const QString &name, std::uint64_t size)
{
    m_abortFlag = false;
    m_transferRunning = true;
    m_progress = new widgets::TransferProgressDialog(window());
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->setTotal(size);
    m_progress->start(name, &m_abortFlag);
    list()->setEnabled(false);
    emit transferStarted(name);
}

bool CManFtpView::runTransfer(bool started, const std::string &localPath, bool download)
{
    net::FtpConnection *connection = m_connection;
    bool completed = false;
    bool ended = !started;
    while (started && !m_abortFlag) {
        if (connection->waitTransfer(kTransferWaitMs)) {
            completed = true;
            ended = true;
            break;
        }
        const net::FtpState state = connection->ftpState();
        if (state != net::FtpState::Downloading && state != net::FtpState::Uploading) {
            ended = true; // the transfer ended without success: no point waiting for Abort
            break;
        }
        if (m_progress)
            m_progress->setPosition(connection->progressPercent());
        QApplication::processEvents();
    }
    connection->finishTransfer();
    if (!ended)
        connection->waitTransfer(kAbortWaitMs);

    if (!completed) {
        const QString cause = m_abortFlag && !ended ? QStringLiteral("aborted")
                                                    : QString::fromLatin1(connection->error().text());
        log(core::kWmLogStatus,
            QStringLiteral("Transfer failed: %1 (%2)").arg(QString::fromStdString(localPath), cause));
        // A download that started wrote part of the file: do not leave that behind as if it were whole.
        if (download && started) {
            std::error_code error;
            std::filesystem::remove(localPath, error);
        }
    }
    if (m_progress)
        m_progress->close();
    m_progress = nullptr;
    list()->setEnabled(true);
    m_transferRunning = false;
    m_directoryBox->setText(QString::fromStdString(m_currentDirectory));
    if (m_pendingGiveBack) {
        const core::ItemStatus status = *m_pendingGiveBack;
        m_pendingGiveBack.reset();
        giveBack(status);
        refreshListing(false);
    }
    return completed;
}

bool CManFtpView::downloadFile(const std::string &name, const std::string &localDirectory)
{
    std::string directory = localDirectory;
    while (!directory.empty() && directory.back() == '\\')
        directory.pop_back();
    while (!directory.empty() && directory.back() == '/')
        directory.pop_back();
    directory.push_back('/');
    if (!check())
        return false;
    // A name from the server becomes one file in the local folder, never a path elsewhere.
    if (!engine::isSafePathComponent(name)) {
        log(core::kWmLogStatus,
            QStringLiteral("Not downloaded: unsafe file name \"%1\".").arg(QString::fromStdString(name)));
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
    beginTransfer(QString::fromStdString(name), size);
    const bool started = m_connection->download(localPath, name, true,
        core::snapshotOrVanished(m_queue, m_itemId).passive, static_cast<std::int64_t>(size), false, false);
    return runTransfer(started, localPath, true);
}

bool CManFtpView::uploadFile(const std::string &localPath)
{
    if (!check())
        return false;
    const std::size_t slash = localPath.find_last_of('/');
    const std::string name = slash == std::string::npos ? std::string() : localPath.substr(slash + 1);
    if (name.empty() || !engine::isSafePathComponent(name)) {
        log(core::kWmLogStatus,
            QStringLiteral("Not uploaded: \"%1\" names no file.").arg(QString::fromStdString(localPath)));
        return false;
    }
    const std::int64_t size = platform::fileSize(localPath);
    if (size < 0) {
        log(core::kWmLogStatus,
            QStringLiteral("Not uploaded: \"%1\" is not a file.").arg(QString::fromStdString(localPath)));
        return false;
    }
    beginTransfer(QString::fromStdString(name), static_cast<std::uint64_t>(size));
    const bool started = m_connection->upload(
        localPath, name, true, core::snapshotOrVanished(m_queue, m_itemId).passive, false);
    return runTransfer(started, localPath, false);
}

QString CManFtpView::dragText() const
{
    const core::QueueItem item = core::snapshotOrVanished(m_queue, m_itemId);
    const std::string &user = item.user;
    const std::string &password = item.password;
    const std::string &host = item.host;
    const std::int32_t port = item.port;
    QStringList entries;
    for (int row : list()->selectedRows())
        entries << remoteDragEntry(m_itemId, user, password, host, port, m_currentDirectory, entry(row).name);
    return joinDragEntries(entries);
}

void CManFtpView::startDrag()
{
    const QString text = dragText();
    if (text.isEmpty() || !isConnected())
        return;
    if (m_localView)
        m_localView->setDropEnabled(true);
    execTextDrag(text);
    if (m_localView)
        m_localView->setDropEnabled(false);
}

void CManFtpView::dropText(const QString &text)
{
    if (check()) {
        for (const QString &part : splitDragText(text)) {
            const std::string path = localEntryPath(part);
            if (!path.empty())
                uploadFile(path);
        }
        refreshListing(true);
        return;
    }
    if (m_attached || m_transferRunning)
        return;
    const qsizetype separator = text.indexOf(kDragSeparator);
    core::Url url;
    if (!core::parseUrl((separator < 0 ? text : text.left(separator)).toStdString(), url))
        return;
    if (url.scheme != core::SchemeFtp && url.scheme != core::SchemeFtpUpload)
        return;
    const std::string request =
        "ftp://" + url.user + ":" + url.password + "@" + url.host + ":" + std::to_string(url.port);
    if (m_queue.addItem(request, "", 0, -1, -1, -1, -1) != 0)
        m_queue.notifyQueueChanged(true, 0);
}

QMenu *CManFtpView::buildContextMenu(int row)
{
    auto *menu = new QMenu(this);
    auto add = [menu](const QString &text, int command) {
        menu->addAction(text)->setData(command);
    };
    if (row >= 0) {
        add(QStringLiteral("Delete"), CommandDelete);
        add(QStringLiteral("Rename..."), CommandRename);
        add(QStringLiteral("View File..."), CommandViewFile);
    }
    add(QStringLiteral("Make Dir..."), CommandMakeDir);
    add(QStringLiteral("Change Dir..."), CommandChangeDir);
    add(QStringLiteral("Refresh"), CommandRefresh);
    return menu;
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
