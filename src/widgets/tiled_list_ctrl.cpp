// SPDX-License-Identifier: MIT
#include "widgets/tiled_list_ctrl.h"

#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>

#include "widgets/image_list.h"
#include "widgets/list_colors.h"
#include "widgets/tiled_row_delegate.h"

namespace bw::widgets {

namespace {

constexpr int kTileSize = 200;

} // namespace

TiledListCtrl::TiledListCtrl(QWidget *parent)
    : QTreeView(parent)
    , m_model(new TiledListModel(this))
{
    setObjectName(QStringLiteral("101"));
    setModel(m_model);
    setItemDelegate(new TiledRowDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Per-pixel scrolling keeps the tiled picture fixed to the rows while they scroll.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setIconSize(QSize(kListImageSize, kListImageSize));
    setTextElideMode(Qt::ElideRight);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    setBackgroundTile(defaultTile(palette()));
    m_defaultTile = true;
}

int TiledListCtrl::insertColumn(int column, const QString &title, int width, Qt::Alignment alignment)
{
    const int index = m_model->insertColumn(column, ListColumn{title, width, alignment});
    header()->resizeSection(index, width);
    return index;
}

int TiledListCtrl::insertItem(int row, const QString &text, int image)
{
    return m_model->insertRow(row, QStringList{text}, image);
}

int TiledListCtrl::appendItem(const QStringList &texts, int image)
{
    return m_model->insertRow(m_model->rowCount(), texts, image);
}

bool TiledListCtrl::deleteItem(int row)
{
    return m_model->removeRow(row);
}

void TiledListCtrl::deleteAllItems()
{
    m_model->clear();
}

QList<int> TiledListCtrl::selectedRows() const
{
    QList<int> rows;
    const QModelIndexList indexes = selectionModel()->selectedRows();
    rows.reserve(indexes.size());
    for (const QModelIndex &index : indexes)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TiledListCtrl::firstSelectedRow() const
{
    const QList<int> rows = selectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

void TiledListCtrl::selectRow(int row, bool clearOthers)
{
    if (row < 0 || row >= rowCount())
        return;
    const QModelIndex index = m_model->index(row, 0);
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::Select | QItemSelectionModel::Rows;
    if (clearOthers)
        flags |= QItemSelectionModel::Clear;
    selectionModel()->select(index, flags);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

int TiledListCtrl::rowAt(const QPoint &viewportPos) const
{
    const QModelIndex index = indexAt(viewportPos);
    return index.isValid() ? index.row() : -1;
}

void TiledListCtrl::ensureRowVisible(int row)
{
    if (row >= 0 && row < rowCount())
        scrollTo(m_model->index(row, 0));
}

void TiledListCtrl::setBackgroundTile(const QPixmap &tile)
{
    m_tile = tile;
    m_defaultTile = false;
    if (auto *delegate = qobject_cast<TiledRowDelegate *>(itemDelegate()))
        delegate->setPlainRows(m_tile.isNull());
    viewport()->update();
}

QPixmap TiledListCtrl::defaultTile(const QPalette &palette)
{
    return paperTile(palette, kTileSize);
}

void TiledListCtrl::changeEvent(QEvent *event)
{
    // The default picture follows the theme; a picture set by the owner stays.
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) && m_defaultTile
        && !m_tile.isNull()) {
        m_tile = defaultTile(palette());
        viewport()->update();
    }
    QTreeView::changeEvent(event);
}

void TiledListCtrl::setRedraw(bool on)
{
    viewport()->setUpdatesEnabled(on);
    if (on)
        viewport()->update();
}

void TiledListCtrl::paintEvent(QPaintEvent *event)
{
    if (!m_tile.isNull()) {
        // The picture scrolls with the rows: its origin is the content's origin.
        QPainter painter(viewport());
        const QPoint offset(
            horizontalScrollBar()->value() % m_tile.width(), verticalScrollBar()->value() % m_tile.height());
        painter.drawTiledPixmap(viewport()->rect(), m_tile, offset);
    }
    QTreeView::paintEvent(event);
}

void TiledListCtrl::drawRow(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem rowOption = option;
    rowOption.state &= ~QStyle::State_HasFocus;
    QTreeView::drawRow(painter, rowOption, index);
    // One focus frame around the whole row, when the list has the keyboard focus.
    if (hasFocus() && currentIndex().isValid() && currentIndex().row() == index.row()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = option.rect;
        focus.backgroundColor = palette().color(QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, this);
    }
}

} // namespace bw::widgets
