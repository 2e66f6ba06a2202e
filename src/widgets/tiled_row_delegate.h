// SPDX-License-Identifier: MIT
// Paints the cells of a TiledListCtrl: highlight through the style, the progress bar of the row's
// progress column, the row image and the elided texts. GUI thread only.
#pragma once

#include <optional>

#include <QColor>
#include <QRect>
#include <QStyledItemDelegate>

#include "widgets/list_colors.h"

namespace bw::widgets {

struct ProgressBarRects
{
    QRect track;
    QRect filled; // empty at 0 percent
};

// The bar inside a cell: the cell's width up to 1 pixel before the next column, from 4 pixels above
// to 6 pixels below its middle, its left percent/100 filled. No bar at 0 percent or less; more than
// 100 percent fills the bar and no more.
std::optional<ProgressBarRects> progressBarRects(const QRect &cell, int percent);

class TiledRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Rows without a background picture are filled with the window colour.
    void setPlainRows(bool plain) { m_plainRows = plain; }

private:
    bool m_plainRows = false;
};

} // namespace bw::widgets
