// SPDX-License-Identifier: MIT
#include "ui/queue_view.h"

#include <algorithm>
#include <utility>

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QSet>
#include <QTabWidget>
#include <QToolTip>
#include <QVBoxLayout>

#include "core/queue_list.h"
#include "engine/local_path.h"
#include "engine/scheduler.h"
#include "ui/key_passphrase_command.h"
#include "ui/queue_document.h"
#include "ui/queue_row_text.h"
#include "widgets/caption_bar.h"
#include "widgets/internal_drag_data.h"
#include "widgets/remote_browser_link.h"
#include "widgets/size_text.h"
#include "widgets/tiled_list_ctrl.h"
#include "widgets/url_text.h"

namespace bw::ui {

using widgets::RowRecord;

namespace {

struct ColumnSpec
{
    const char *title;
    int width;
};

constexpr std::array<ColumnSpec, kQueueColumnCount> kColumns{{
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Action"), 150},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Host"), 90},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Retry"), 40},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Count"), 50},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "File"), 75},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Bytes"), 110},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Total"), 65},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Speed"), 50},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Path"), 100},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "User"), 50},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Port"), 50},
    {QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Local Path"), 100},
}};

// The widest text each column usually shows: the columns a user reads first (action, progress, sizes,
// speed) are sized so these fit in the current font; the others keep their fixed widths.
constexpr std::array<const char *, kQueueColumnCount> kWidestTexts{{
    "Downloading - 100%",
    "ftp.example.org",
    "300",
    "10/10",
    "a-typical-file-name.tar.gz",
    "1023.9 MiB (100%)",
    "1023.9 MiB",
    "999 kB/s, 59m 59s left",
    nullptr,
    "anonymous",
    "65535",
    nullptr,
}};

constexpr std::array<const char *, kQueueTabCount> kTabTitles{
    QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Queue"), QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Active"),
    QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Complete"),
    QT_TRANSLATE_NOOP("bw::ui::CFtpTreeView", "Errors")};

QString fromStd(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

CFtpTreeView::CFtpTreeView(
    core::QueueList &queue, engine::Scheduler &scheduler, QueueDocument &document, QWidget *parent)
    : QWidget(parent)
    , m_queue(queue)
    , m_scheduler(scheduler)
    , m_document(document)
    , m_prompts(UserPrompts::modalDialogs())
    , m_caption(new CaptionBar(tr("Transfer Queue"), this))
    , m_tabs(new QTabWidget(this))
{
    setObjectName(QStringLiteral("queueView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    m_caption->setObjectName(QStringLiteral("captionBar"));
    layout->addWidget(m_caption);
    auto *tabArea = new QVBoxLayout;
    tabArea->setContentsMargins(3, 0, 3, 3);
    tabArea->addWidget(m_tabs);
    layout->addLayout(tabArea);

    for (int tab = 0; tab < kQueueTabCount; ++tab) {
        auto *list = new TiledListCtrl(m_tabs);
        list->setObjectName(QStringLiteral("queueList%1").arg(tab));
        const QFontMetrics metrics(list->font());
        for (int column = 0; column < kQueueColumnCount; ++column) {
            const QString title = tr(kColumns[column].title);
            // Neither the title nor a usual value is cut short at first start (saved widths win later).
            int width = std::max(kColumns[column].width, metrics.horizontalAdvance(title) + 24);
            if (kWidestTexts[column]) {
                const int icon = column == ColumnAction ? list->iconSize().width() + 4 : 0;
                width = std::max(
                    width, metrics.horizontalAdvance(QLatin1String(kWidestTexts[column])) + icon + 16);
            }
            list->insertColumn(column, title, width);
        }
        // A click on a header sorts the tab by that column; until then the rows keep the queue's order.
        list->header()->setSortIndicator(-1, Qt::AscendingOrder);
        list->setSortingEnabled(true);
        // Long names keep their start and their extension visible.
        list->setTextElideMode(Qt::ElideMiddle);
        list->setStatusTips(true);
        list->setStatusTipProvider([this](std::int64_t itemId) {
            return fromStd(core::statusTextWithDetail(
                core::snapshotOrVanished(m_queue, static_cast<std::int32_t>(itemId))));
        });
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setContextMenuPolicy(Qt::NoContextMenu);
        list->viewport()->installEventFilter(this);
        list->setAcceptDrops(false);
        list->viewport()->setAcceptDrops(false);
        m_lists[tab] = list;
        m_tabs->addTab(list, tr(kTabTitles[tab]));
    }
    m_tabs->setCurrentIndex(0);
    setAcceptDrops(true);

    m_intake = new QueueUrlIntake(*this, m_queue, m_document);
    createContextActions();
}

CFtpTreeView::~CFtpTreeView() = default;

engine::LocalPathOptions CFtpTreeView::localPathOptions() const
{
    engine::LocalPathOptions options = m_scheduler.localPathOptions();
    options.fileNameConversion = m_fileNameConversion;
    return options;
}

TiledListCtrl *CFtpTreeView::currentList() const
{
    const int index = m_tabs->currentIndex();
    return index >= 0 && index < kQueueTabCount ? m_lists[index] : m_lists[0];
}

QString CFtpTreeView::caption() const
{
    return m_caption->text();
}

int CFtpTreeView::queueRefresh(std::int32_t itemId)
{
    if (itemId != 0)
        refreshItem(itemId);
    else
        fullRefresh();
    return 1;
}

void CFtpTreeView::refreshItem(std::int32_t itemId)
{
    showItem(itemId, m_queue.snapshot(itemId));
}

void CFtpTreeView::showItem(std::int32_t itemId, const std::optional<core::QueueItem> &item)
{
    // One consistent copy of the item serves all four lists.
    for (int tab = 0; tab < kQueueTabCount; ++tab)
        updateRow(static_cast<QueueTab>(tab), itemId, item);
    if (item && m_keyPassphrase)
        m_keyPassphrase->offer(*item);
}

int CFtpTreeView::insertRow(TiledListCtrl *list, const core::QueueItem *item)
{
    QStringList texts(kQueueColumnCount);
    texts[ColumnAction] = tr("Idle");
    texts[ColumnHost] = fromStd(item->host);
    texts[ColumnRetry] = QString::number(item->retryTime);
    texts[ColumnCount] = QStringLiteral("%1/%2").arg(item->attempts).arg(item->retryCount);
    texts[ColumnFile] = fileColumnText(*item);
    texts[ColumnPath] = fromStd(item->path);
    texts[ColumnUser] = fromStd(item->user);
    texts[ColumnPort] = QString::number(item->port);
    texts[ColumnLocalPath] = fromStd(item->localPath);
    const int row = list->appendItem(texts, kImageFresh);
    RowRecord record;
    record.percent = 0;
    record.progressColumn = ColumnAction;
    record.itemId = item->id;
    list->setRecord(row, record);
    return row;
}

void CFtpTreeView::updateRow(QueueTab tab, std::int32_t itemId, const std::optional<core::QueueItem> &item)
{
    TiledListCtrl *list = m_lists[static_cast<int>(tab)];
    int row = list->findItemId(itemId);
    // An id the queue no longer holds belongs in no tab, so a row left behind by a vanished item goes
    // instead of lingering as a ghost.
    const bool belongs = item && belongsInTab(tab, static_cast<int>(item->status), item->removeWhenDone);
    if (!belongs) {
        if (row >= 0)
            list->deleteItem(row);
        return;
    }
    if (row < 0)
        row = insertRow(list, &*item);

    const bool upload = core::isUploadScheme(item->scheme);
    const std::int64_t total = item->totalSize;
    const std::int64_t done = item->bytesDone;
    const int percent = progressPercent(done, total);
    const int status = static_cast<int>(item->status);
    RowAction action = rowAction(status, upload, total, percent);
    if (status == kStatusInactiveManual && m_remote && !m_remote->isConnected()) {
        m_remote->takeOver(itemId);
        emit manualHandover(itemId);
        action = {tr("Manual - Active"), kImageManualActive};
    }

    if (item->stoppedByUser && status == static_cast<int>(core::ItemStatus::StatusIdle))
        action.text = tr("Stopped");
    if (list->itemImage(row) != action.image)
        list->setItemImage(row, action.image);
    list->setItemText(row, ColumnBytes, doneSizeText(done, total, percent));
    if (total / 100 != 0)
        list->setProgress(row, std::clamp(percent, 0, 100)); // a server may send more than it announced
    list->setItemText(row, ColumnTotal, widgets::sizeText(total));
    list->setItemText(row, ColumnSpeed,
        status == kStatusTransferring ? speedAndTimeLeftText(item->rateKBps, done, total) : QString());
    list->setItemText(row, ColumnRetry, QString::number(item->retryTime));
    list->setItemText(row, ColumnCount, countText(item->attempts, item->retryCount));
    list->setItemText(row, ColumnAction, action.text);
}

void CFtpTreeView::fullRefresh()
{
    // One locked pass copies what the walk needs; rows are then updated without the lock, while workers
    // may reorder or remove items. Reading every item by id instead would cost a scan of the queue per
    // item.
    const std::vector<core::ItemState> entries = m_queue.states();

    std::int64_t totalKBps = 0;
    int index = 0;
    for (const core::ItemState &entry : entries) {
        const bool inBatch = index >= m_rotationStart && index < m_rotationStart + kRefreshBatch;
        ++index;
        // An item about to leave the queue gets its last look in every tab first, wherever it stands:
        // once it is gone no refresh reaches its rows again.
        const int status = static_cast<int>(entry.status);
        const bool leaving = entry.removeWhenDone || isCompletedStatus(status);
        if (!inBatch && !leaving && status != kStatusTransferring)
            continue;
        // All four tabs from one copy, so a change between two tabs cannot put the item in both or neither.
        const std::optional<core::QueueItem> item = m_queue.snapshot(entry.id);
        for (int tab = 0; tab < kQueueTabCount; ++tab)
            updateRow(static_cast<QueueTab>(tab), entry.id, item);
        if (item && static_cast<int>(item->status) == kStatusTransferring)
            totalKBps += item->rateKBps;
        // Decided from the copy the rows show, so a row never says less than the item went through.
        if (item && (item->removeWhenDone || isCompletedStatus(static_cast<int>(item->status))))
            m_queue.removeItem(entry.id);
    }
    dropRowsOfVanishedItems();
    m_totalSpeedKBps = totalKBps;

    m_rotationStart += kRefreshBatch;
    if (m_rotationStart >= index)
        m_rotationStart = 0;
}

void CFtpTreeView::clearCompleted()
{
    m_lists[static_cast<int>(QueueTab::Complete)]->deleteAllItems();
}

void CFtpTreeView::dropRowsOfVanishedItems()
{
    const std::vector<std::int32_t> ids = m_queue.ids();
    const QSet<std::int64_t> known(ids.begin(), ids.end());
    for (int tab = 0; tab < kQueueTabCount; ++tab) {
        // "Complete" goes on listing what completed since start-up.
        if (static_cast<QueueTab>(tab) == QueueTab::Complete)
            continue;
        TiledListCtrl *list = m_lists[tab];
        for (int row = list->rowCount() - 1; row >= 0; --row) {
            if (!known.contains(list->record(row).itemId))
                list->deleteItem(row);
        }
    }
}

std::int32_t CFtpTreeView::addUrl(const QString &text, bool saveAtOnce)
{
    return m_intake->addUrl(text, saveAtOnce);
}

QList<std::int32_t> CFtpTreeView::addUrls(const QStringList &pieces, bool saveAtOnce)
{
    return m_intake->addUrls(pieces, saveAtOnce);
}

void CFtpTreeView::addUrlsInBatches(const QStringList &pieces)
{
    m_intake->addUrlsInBatches(pieces);
}

void CFtpTreeView::pasteUrls()
{
    if (const QMimeData *copied = QGuiApplication::clipboard()->mimeData())
        addDroppedUrls(*copied);
}

void CFtpTreeView::addDroppedUrls(const QMimeData &offered)
{
    // Web browsers offer links as "text/uri-list" or "text/x-moz-url"; other programs as lines of text.
    const QStringList pieces = widgets::urlsFromMimeData(offered);
    // Rows of Bellwick's own panes may upload; text of any other origin never does unasked.
    if (qobject_cast<const widgets::InternalDragData *>(&offered))
        addUrlsInBatches(pieces);
    else
        m_intake->addOutsideUrls(pieces);
}

void CFtpTreeView::dropText(const QString &text)
{
    addUrlsInBatches(widgets::urlPieces(text));
}

void CFtpTreeView::removeRows(std::int32_t itemId)
{
    for (TiledListCtrl *list : m_lists) {
        const int row = list->findItemId(itemId);
        if (row >= 0)
            list->deleteItem(row);
    }
}

void CFtpTreeView::clear()
{
    for (TiledListCtrl *list : m_lists)
        list->deleteAllItems();
}

void CFtpTreeView::saveDocument()
{
    m_document.save();
}

void CFtpTreeView::handleDoubleClick(TiledListCtrl *list, const QPoint &pos)
{
    const int row = list->rowAt(pos);
    if (row < 0)
        return;
    list->selectRow(row);
    const auto id = static_cast<std::int32_t>(list->record(row).itemId);
    if (!m_remote || static_cast<int>(core::snapshotOrVanished(m_queue, id).status) != kStatusInactiveManual)
        return;
    const std::int32_t previous = m_remote->itemId();
    m_remote->takeOver(id);
    refreshItem(id);
    if (previous != 0 && previous != id)
        refreshItem(previous);
}

bool CFtpTreeView::eventFilter(QObject *watched, QEvent *event)
{
    for (TiledListCtrl *list : m_lists) {
        if (watched != list->viewport())
            continue;
        if (event->type() == QEvent::MouseButtonPress) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::RightButton) {
                showContextMenu(list, mouse->position().toPoint());
                return true;
            }
        } else if (event->type() == QEvent::ToolTip) {
            auto *help = static_cast<QHelpEvent *>(event);
            const int row = list->rowAt(help->pos());
            const QString tip = row >= 0 ? rowToolTip(list, row) : QString();
            if (tip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), tip, list->viewport());
            return true;
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton) {
                handleDoubleClick(list, mouse->position().toPoint());
                return true;
            }
        }
        break;
    }
    return QWidget::eventFilter(watched, event);
}

QString CFtpTreeView::rowToolTip(const TiledListCtrl *list, int row) const
{
    if (!list->hasRecord(row))
        return {};
    const auto itemId = static_cast<std::int32_t>(list->record(row).itemId);
    const std::optional<core::QueueItem> item = m_queue.snapshot(itemId);
    if (!item)
        return {};
    // Hovering is rare and the list is in memory: a scan for the same name costs nothing noticeable.
    const QString name = list->itemText(row, ColumnFile);
    bool repeats = false;
    for (int other = 0; other < list->rowCount() && !repeats && !name.isEmpty(); ++other)
        repeats = other != row && list->itemText(other, ColumnFile) == name;
    return rowDetailTip(fromStd(core::statusTextWithDetail(*item)), *item, repeats);
}

void CFtpTreeView::dragEnterEvent(QDragEnterEvent *event)
{
    if (QueueUrlIntake::acceptsDrop(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void CFtpTreeView::dragMoveEvent(QDragMoveEvent *event)
{
    if (QueueUrlIntake::acceptsDrop(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void CFtpTreeView::dropEvent(QDropEvent *event)
{
    if (!QueueUrlIntake::acceptsDrop(*event->mimeData()))
        return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    addDroppedUrls(*event->mimeData());
}

} // namespace bw::ui
