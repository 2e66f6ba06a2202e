// SPDX-License-Identifier: MIT
#include "widgets/list_colors.h"

#include <algorithm>
#include <cmath>

#include <QLinearGradient>
#include <QPainter>

namespace bw::widgets {

namespace {

qreal linearChannel(qreal channel)
{
    return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

QColor mixColors(const QColor &a, const QColor &b, qreal amount)
{
    const qreal keep = 1.0 - amount;
    return QColor::fromRgbF(static_cast<float>(a.redF() * keep + b.redF() * amount),
        static_cast<float>(a.greenF() * keep + b.greenF() * amount),
        static_cast<float>(a.blueF() * keep + b.blueF() * amount));
}

qreal relativeLuminance(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * linearChannel(rgb.redF()) + 0.7152 * linearChannel(rgb.greenF())
        + 0.0722 * linearChannel(rgb.blueF());
}

qreal contrastRatio(const QColor &a, const QColor &b)
{
    const qreal first = relativeLuminance(a);
    const qreal second = relativeLuminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

bool isDarkList(const QPalette &palette)
{
    return relativeLuminance(palette.color(QPalette::Base))
        < relativeLuminance(palette.color(QPalette::Text));
}

ProgressBarColors progressBarColors(const QPalette &palette)
{
    if (!isDarkList(palette))
        return {QColor(kProgressTrackColor), QColor(kProgressFillColor)};
    const QColor base = palette.color(QPalette::Base);
    const QColor highlight = palette.color(QPalette::Highlight);
    const QColor text = palette.color(QPalette::Text);
    // A bright highlight (a yellow or light-blue theme) would wash the text out: take less of it until
    // the text keeps a contrast of 4.5:1 (WCAG AA) over the fill.
    qreal amount = 0.4;
    while (amount > 0.05 && contrastRatio(text, mixColors(base, highlight, amount)) < 4.5)
        amount -= 0.05;
    return {mixColors(base, highlight, amount / 2), mixColors(base, highlight, amount)};
}

QPixmap paperTile(const QPalette &palette, int size)
{
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    QPixmap tile(size, size);
    QPainter p(&tile);
    // A faint wash and fibres a few steps towards the text colour: light enough that the text keeps
    // nearly all of its contrast against the base colour.
    QLinearGradient wash(0, 0, size, size);
    wash.setColorAt(0.0, mixColors(base, text, 0.01));
    wash.setColorAt(0.5, mixColors(base, text, 0.035));
    wash.setColorAt(1.0, mixColors(base, text, 0.01));
    p.fillRect(tile.rect(), wash);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(mixColors(base, text, 0.1), 1));
    // Lines that leave one edge enter at the opposite one, so the tiles join without seams.
    for (int offset = -size; offset < size; offset += 25)
        p.drawLine(QPointF(offset, 0), QPointF(offset + size, size));
    return tile;
}

} // namespace bw::widgets
