// SPDX-License-Identifier: MIT
#include "browse/local_view.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSet>
#include <QStorageInfo>

#include "browse/drag_text.h"
#include "browse/folder_watch.h"
#include "browse/local_places.h"
#include "browse/man_ftp_view.h"
#include "widgets/file_icon_list.h"
#include "widgets/format_grouped_number.h"
#include "widgets/internal_drag_data.h"

namespace bw::browse {

namespace fs = std::filesystem;

namespace {

enum class RenameOutcome
{
    Renamed,
    TargetExists,
    Failed,
};

// rename() would silently replace a file already called `to`; RENAME_NOREPLACE makes the kernel refuse
// instead, with no window between a check and the move.
RenameOutcome renameWithoutReplacing(const std::string &from, const std::string &to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return RenameOutcome::Renamed;
    if (errno == EEXIST)
        return RenameOutcome::TargetExists;
    if (errno != EINVAL && errno != ENOSYS)
        return RenameOutcome::Failed;
    // A file system without the flag: check first, then move.
    struct stat target;
    if (::lstat(to.c_str(), &target) == 0)
        return RenameOutcome::TargetExists;
    return std::rename(from.c_str(), to.c_str()) == 0 ? RenameOutcome::Renamed : RenameOutcome::Failed;
}

} // namespace

CLocalView::CLocalView(QWidget *parent)
    : FilePaneView(parent)
    , m_prompts(BrowsePrompts::modalDialogs())
    , m_drives(new QComboBox)
    , m_directoryBox(new PathBox)
    , m_watch(new FolderWatch(this))
{
    setObjectName(QStringLiteral("localView"));
    setCaption(tr("Local HDD"));
    auto *strip = new QWidget;
    auto *stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(2, 2, 2, 2);
    m_drives->setObjectName(QStringLiteral("driveList"));
    // Long volume names must not squeeze the folder box: the list opens wide enough to read them.
    m_drives->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_drives->setMinimumContentsLength(10);
    m_directoryBox->setObjectName(QStringLiteral("directoryBox"));
    m_directoryBox->setToolTip(tr("Type a folder and press Enter"));
    stripLayout->addWidget(m_drives);
    stripLayout->addWidget(m_directoryBox, 1);
    setControlStrip(strip, m_directoryBox);
    connect(m_drives, &QComboBox::activated, this,
        [this](int index) { changeDrive(m_drives->itemData(index).toString()); });
    connect(m_directoryBox, &PathBox::pathEntered, this, &CLocalView::enterTypedPath);
    connect(m_watch, &FolderWatch::folderChanged, this, &CLocalView::refreshFromDisk);
}

// The rows go with the list; removing them one by one here would notify a window that is being torn down.
CLocalView::~CLocalView() = default;

void CLocalView::showEvent(QShowEvent *event)
{
    FilePaneView::showEvent(event);
    if (!m_firstUpdate)
        return;
    listDirectory();
    m_firstUpdate = false;
    fillDrives();
    m_directoryBox->setPath(QString::fromStdString(m_directory));
    selectDriveFor(QString::fromStdString(m_directory));
}

void CLocalView::setDirectory(const std::string &folder)
{
    if (folder == m_directory)
        return;
    m_directory = folder;
    emit directoryChanged(QString::fromStdString(m_directory));
}

bool CLocalView::enterDirectory(const fs::path &folder)
{
    // The real path, as the system names it: ".." is resolved and links are followed.
    std::error_code error;
    const fs::path target = fs::canonical(folder, error);
    if (error || !fs::is_directory(target, error))
        return false;
    setDirectory(target.string());
    return true;
}

void CLocalView::fillDrives()
{
    const QSignalBlocker blocker(m_drives);
    m_drives->clear();
    for (const LocalPlace &place : localPlaces())
        m_drives->addItem(place.name, place.path);
}

void CLocalView::enterTypedPath(const QString &text)
{
    QString path = text.trimmed();
    if (path == u'~' || path.startsWith(QStringLiteral("~/")))
        path = QDir::homePath() + path.mid(1);
    const fs::path folder = QDir::isRelativePath(path) ? fs::path(m_directory) / path.toStdString()
                                                       : fs::path(path.toStdString());
    if (!path.isEmpty() && enterDirectory(folder)) {
        listDirectory();
        return;
    }
    m_directoryBox->setPath(QString::fromStdString(m_directory));
    if (m_prompts.showError)
        m_prompts.showError(this, tr("There is no folder \"%1\".").arg(text), tr("Local Folder"));
}

void CLocalView::selectDriveFor(const QString &directory)
{
    // The volume that holds the folder: the longest mount point that is a prefix of it.
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < m_drives->count(); ++i) {
        const QString root = m_drives->itemData(i).toString();
        const bool holds = directory == root || root.endsWith(QLatin1Char('/'))
            ? directory.startsWith(root)
            : directory.startsWith(root + QLatin1Char('/'));
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    const QSignalBlocker blocker(m_drives);
    m_drives->setCurrentIndex(best);
}

void CLocalView::clearRows()
{
    list()->deleteAllItems();
}

std::string CLocalView::directoryPrefix() const
{
    std::string directory = m_directory;
    while (!directory.empty() && (directory.back() == '/' || directory.back() == '\\'))
        directory.pop_back();
    return directory + "/";
}

void CLocalView::listDirectory()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    widgets::TiledListCtrl *rows = list();
    rows->setRedraw(false);
    clearRows();
    const QString directory = QString::fromStdString(m_directory);
    m_directoryBox->setPath(directory);
    selectDriveFor(directory);

    std::vector<PaneRow> rowsToShow;
    rowsToShow.push_back({ListEntry{"..", true, 0, 0}, {QStringLiteral(".."), QString(), QString()},
        widgets::FileIconList::kParentImage});
    std::error_code error;
    const std::string prefix = directoryPrefix();
    for (fs::directory_iterator
             it(directory.toStdString(), fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code kindError;
        const bool isDirectory = it->is_directory(kindError);
        PaneRow row;
        row.entry = ListEntry{name, isDirectory, 0, 0};
        const QString qName = QString::fromStdString(name);
        if (isDirectory) {
            row.texts = {qName, QString(), QString()};
            row.image = widgets::FileIconList::kFolderImage;
        } else {
            const QFileInfo info(QString::fromStdString(prefix + name));
            const QDateTime modified = info.lastModified().toLocalTime();
            const QDate day = modified.date();
            const QTime time = modified.time();
            row.texts = {qName, fileSizeText(static_cast<std::uint64_t>(std::max<qint64>(info.size(), 0))),
                modified.isValid() ? dateText(day.year(), day.month(), day.day(), time.hour(), time.minute())
                                   : QString()};
            row.image = images()->iconForLocalPath(info.absoluteFilePath(), false);
        }
        rowsToShow.push_back(std::move(row));
    }
    appendSortedRows(std::move(rowsToShow));
    rows->setRedraw(true);
    m_watch->watch(directory);
    QApplication::restoreOverrideCursor();
}

void CLocalView::refreshFromDisk()
{
    widgets::TiledListCtrl *rows = list();
    QSet<QString> selected;
    for (const int row : rows->selectedRows())
        selected.insert(rows->itemText(row, 0));
    const QString current =
        rows->currentIndex().isValid() ? rows->itemText(rows->currentIndex().row(), 0) : QString();
    const int scroll = rows->verticalScrollBar()->value();
    listDirectory();
    for (int row = 0; row < rows->rowCount(); ++row) {
        const QString name = rows->itemText(row, 0);
        if (name == current)
            rows->selectionModel()->setCurrentIndex(
                rows->listModel()->index(row, 0), QItemSelectionModel::NoUpdate);
        if (selected.contains(name))
            rows->selectRow(row, false);
    }
    rows->verticalScrollBar()->setValue(scroll);
}

void CLocalView::openDirectory()
{
    const int row = list()->firstSelectedRow();
    if (row < 0 || !entry(row).isDirectory)
        return;
    enterDirectory(fs::path(m_directory) / entry(row).name);
    listDirectory();
}

void CLocalView::changeDrive(const QString &root)
{
    enterDirectory(root.toStdString());
    listDirectory();
}

void CLocalView::deleteSelection()
{
    QStringList shown;
    for (int row : list()->selectedRows()) {
        if (entry(row).name != "..")
            shown << QString::fromStdString(entry(row).name);
    }
    if (shown.isEmpty() || !m_prompts.confirm(this, deleteQuestion(shown), tr("Delete")))
        return;
    const std::string prefix = directoryPrefix();
    for (int row : list()->selectedRows()) {
        const ListEntry item = entry(row);
        // The ".." row is the parent folder, never something to delete.
        if (item.name == "..")
            continue;
        std::error_code error;
        // Removes a file, or a folder only when it is empty.
        fs::remove(prefix + item.name, error);
    }
    listDirectory();
}

void CLocalView::renameSelection()
{
    const std::string prefix = directoryPrefix();
    for (int row : list()->selectedRows()) {
        const ListEntry item = entry(row);
        if (item.name == "..")
            continue;
        const std::optional<QString> name =
            m_prompts.askName(this, tr("Rename"), tr("New name:"), QString::fromStdString(item.name));
        if (!name || name->isEmpty() || name->toStdString() == item.name)
            continue;
        const RenameOutcome outcome =
            renameWithoutReplacing(prefix + item.name, prefix + name->toStdString());
        if (outcome == RenameOutcome::TargetExists && m_prompts.showError)
            m_prompts.showError(this,
                tr("\"%1\" already exists. Choose another name; nothing was renamed.").arg(*name),
                tr("Rename"));
    }
    listDirectory();
}

void CLocalView::makeFolder()
{
    const std::optional<QString> name =
        m_prompts.askName(this, tr("New Folder"), tr("Folder name:"), QString());
    if (name && !name->isEmpty()) {
        std::error_code error;
        fs::create_directory(directoryPrefix() + name->toStdString(), error);
    }
    listDirectory();
}

void CLocalView::viewSelection()
{
    const std::string prefix = directoryPrefix();
    for (int row : list()->selectedRows())
        m_prompts.openUrl(QUrl::fromLocalFile(QString::fromStdString(prefix + entry(row).name)));
}

bool CLocalView::canUpload() const
{
    return m_remote && m_remote->isConnected() && !m_remote->isBusy() && !list()->selectedRows().isEmpty();
}

void CLocalView::uploadSelection()
{
    if (!m_remote || !m_remote->isConnected())
        return;
    const std::string prefix = directoryPrefix();
    std::vector<std::string> paths;
    for (int row : list()->selectedRows())
        paths.push_back(prefix + entry(row).name);
    m_remote->uploadFiles(paths);
}

QString CLocalView::dragText() const
{
    const std::string prefix = directoryPrefix();
    QStringList entries;
    for (int row : list()->selectedRows())
        entries << localDragEntry(prefix + entry(row).name);
    return joinDragEntries(entries);
}

void CLocalView::startDrag()
{
    if (!m_remote || !m_remote->isConnected())
        return;
    if (list()->selectedRows().isEmpty())
        return;
    execDrag(dragData());
}

QMimeData *CLocalView::dragData() const
{
    const std::string prefix = directoryPrefix();
    QStringList entries;
    for (int row : list()->selectedRows())
        entries << localDragEntry(prefix + entry(row).name);
    return new widgets::InternalDragData(joinDragEntries(entries), joinPublicEntries(entries));
}

void CLocalView::dropText(const QString &text)
{
    const std::string directory = m_directory;
    std::vector<std::string> names;
    for (const QString &part : splitDragText(text)) {
        std::string name = remoteEntryName(part);
        if (!name.empty())
            names.push_back(std::move(name));
    }
    // The remote browser lists this folder again after each download.
    if (m_remote && !names.empty())
        m_remote->downloadFiles(names, directory);
}

QMenu *CLocalView::buildContextMenu(int row)
{
    return buildFileMenu(row, true);
}

void CLocalView::activateFiles()
{
    // With a site open a file goes up to it; without one Enter opens it, as a double click in a file
    // manager would.
    if (canUpload())
        uploadSelection();
    else
        viewSelection();
}

} // namespace bw::browse
