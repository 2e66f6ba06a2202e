// SPDX-License-Identifier: MIT
// The list every pane shows: a report list whose rows are painted over a tiled background picture,
// with an in-row progress bar, the highlight of the style, and per-cell tooltips. The calls mirror a
// report list control (insert, set text, delete by row index). GUI thread only.
#pragma once

#include <functional>

#include <QPixmap>
#include <QTreeView>

#include "widgets/tiled_list_model.h"

namespace bw::widgets {

class TiledListCtrl : public QTreeView
{
    Q_OBJECT

public:
    explicit TiledListCtrl(QWidget *parent = nullptr);

    TiledListModel *listModel() const { return m_model; }

    int insertColumn(int column, const QString &title, int width, Qt::Alignment alignment = Qt::AlignLeft);

    int columnCount() const { return m_model->columnCount(); }

    int rowCount() const { return m_model->rowCount(); }

    // Inserts a row with column 0's text; `row` beyond the end appends. Returns the row index.
    int insertItem(int row, const QString &text, int image = -1);
    int appendItem(const QStringList &texts, int image = -1);
    bool deleteItem(int row);
    void deleteAllItems();

    QString itemText(int row, int column) const { return m_model->text(row, column); }

    // Writes only when the text differs (no flicker); returns whether it changed.
    bool setItemText(int row, int column, const QString &text) { return m_model->setText(row, column, text); }

    int itemImage(int row) const { return m_model->image(row); }

    bool setItemImage(int row, int image) { return m_model->setImage(row, image); }

    bool hasRecord(int row) const { return m_model->hasRecord(row); }

    RowRecord record(int row) const { return m_model->record(row); }

    void setRecord(int row, const RowRecord &record) { m_model->setRecord(row, record); }

    bool setProgress(int row, int percent) { return m_model->setPercent(row, percent); }

    int findItemId(std::int64_t itemId) const { return m_model->findItemId(itemId); }

    // Selected rows in ascending order.
    QList<int> selectedRows() const;
    int firstSelectedRow() const;
    void selectRow(int row, bool clearOthers = true);
    int rowAt(const QPoint &viewportPos) const;
    void ensureRowVisible(int row);

    void setImageList(const ImageList *images) { m_model->setImageList(images); }

    void setStatusTips(bool on) { m_model->setStatusTips(on); }

    bool statusTips() const { return m_model->statusTips(); }

    void setStatusTipProvider(std::function<QString(std::int64_t itemId)> provider)
    {
        m_model->setStatusTipProvider(std::move(provider));
    }

    // Rows dragged out carry this text (plain text); the owner also turns dragging on.
    void setDragTextProvider(std::function<QString(const QList<int> &rows)> provider)
    {
        m_model->setDragTextProvider(std::move(provider));
    }

    // The picture tiled behind the rows. A null pixmap means plain rows in the window colour.
    void setBackgroundTile(const QPixmap &tile);

    bool hasBackgroundTile() const { return !m_tile.isNull(); }

    const QPixmap &backgroundTile() const { return m_tile; }

    // The picture every list gets by default (200 x 200), in the colours of `palette`; repainted when
    // the list's palette changes.
    static QPixmap defaultTile(const QPalette &palette);

    // Batches: while off, inserts and deletes do not repaint; turning it on repaints once.
    void setRedraw(bool on);

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void drawRow(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    TiledListModel *m_model;
    QPixmap m_tile;
    bool m_defaultTile = false; // m_tile is the default picture and follows the palette
};

} // namespace bw::widgets
