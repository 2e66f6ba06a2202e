// SPDX-License-Identifier: MIT
#include "widgets/tiled_row_delegate.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>

#include "widgets/image_list.h"
#include "widgets/tiled_list_model.h"

namespace bw::widgets {

namespace {

// Twice the width of a space: the text margin of every column.
int textMargin(const QFontMetrics &metrics)
{
    return 2 * metrics.horizontalAdvance(QLatin1Char(' '));
}

// Column 0's text starts after the row image.
QRect labelRect(const QRect &cell, int column)
{
    if (column != 0)
        return cell;
    return cell.adjusted(kListImageSize + 2, 0, 0, 0);
}

} // namespace

std::optional<ProgressBarRects> progressBarRects(const QRect &cell, int percent)
{
    if (percent <= 0 || cell.width() < 2)
        return std::nullopt;
    const int middle = cell.top() + cell.height() / 2;
    ProgressBarRects bar;
    bar.track = QRect(QPoint(cell.left(), middle - 4), QPoint(cell.right() - 1, middle + 6));
    const int filledWidth = bar.track.width() * std::min(percent, 100) / 100;
    bar.filled = QRect(bar.track.left(), bar.track.top(), filledWidth, bar.track.height());
    return bar;
}

void TiledRowDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    const bool highlighted = opt.state.testFlag(QStyle::State_Selected);
    const int column = index.column();

    painter->save();
    if (highlighted) {
        // The style's own selection panel, so themes apply.
        QStyleOptionViewItem panel = opt;
        panel.text.clear();
        panel.icon = QIcon();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
    } else {
        if (m_plainRows)
            painter->fillRect(opt.rect, opt.palette.brush(QPalette::Base));
        const int progressColumn = index.data(TiledListModel::ProgressColumnRole).toInt();
        if (progressColumn == column) {
            const int percent = index.data(TiledListModel::PercentRole).toInt();
            if (const auto bar = progressBarRects(labelRect(opt.rect, column), percent)) {
                const ProgressBarColors colors = progressBarColors(opt.palette);
                painter->fillRect(bar->track, colors.track);
                painter->fillRect(bar->filled, colors.fill);
            }
        }
    }

    if (column == 0 && !opt.icon.isNull()) {
        const QRect iconRect(opt.rect.left() + 1, opt.rect.top() + (opt.rect.height() - kListImageSize) / 2,
            kListImageSize, kListImageSize);
        const QIcon::Mode mode = highlighted            ? QIcon::Selected
            : opt.state.testFlag(QStyle::State_Enabled) ? QIcon::Normal
                                                        : QIcon::Disabled;
        opt.icon.paint(painter, iconRect, Qt::AlignCenter, mode);
    }

    const QFontMetrics metrics(opt.font);
    const int margin = textMargin(metrics);
    QRect textRect = labelRect(opt.rect, column);
    textRect.adjust(column == 0 ? margin / 2 : margin, 0, -margin, 0);
    if (textRect.width() > 0 && !opt.text.isEmpty()) {
        const QString shown = metrics.elidedText(opt.text, opt.textElideMode, textRect.width());
        const Qt::Alignment horizontal = opt.displayAlignment & Qt::AlignHorizontal_Mask;
        painter->setFont(opt.font);
        style->drawItemText(painter, textRect, int(horizontal | Qt::AlignVCenter | Qt::TextSingleLine),
            opt.palette, opt.state.testFlag(QStyle::State_Enabled), shown,
            highlighted ? QPalette::HighlightedText : QPalette::Text);
    }
    painter->restore();
}

QSize TiledRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QFontMetrics metrics(option.font);
    const int margin = textMargin(metrics);
    int width = metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString()) + 2 * margin;
    if (index.column() == 0)
        width += kListImageSize + 2;
    return {width, std::max(kListImageSize + 2, metrics.height() + 4)};
}

} // namespace bw::widgets
