// SPDX-License-Identifier: MIT
// The colours of the tiled lists, taken from the palette so a dark theme reads as well as a light one:
// the paper tile behind the rows and the in-row progress bar. GUI thread only.
#pragma once

#include <QColor>
#include <QPalette>
#include <QPixmap>

namespace bw::widgets {

// The colours of the in-row progress bar on a light list: the track and its filled part.
constexpr QRgb kProgressTrackColor = qRgb(224, 224, 192);
constexpr QRgb kProgressFillColor = qRgb(255, 255, 160);

struct ProgressBarColors
{
    QColor track;
    QColor fill;
};

// `a` moved towards `b` by `amount` (0: a, 1: b).
QColor mixColors(const QColor &a, const QColor &b, qreal amount);
// WCAG relative luminance, 0 (black) to 1 (white).
qreal relativeLuminance(const QColor &color);
// WCAG contrast ratio, 1 to 21.
qreal contrastRatio(const QColor &a, const QColor &b);
// A list whose base colour is darker than its text.
bool isDarkList(const QPalette &palette);

// On a light list the pale yellow bar; on a dark one, the highlight mixed into the base, dark enough
// that the text drawn over it keeps its contrast.
ProgressBarColors progressBarColors(const QPalette &palette);
// A quiet sheet of paper in the base colour, with faint fibres towards the text colour; `size` square.
QPixmap paperTile(const QPalette &palette, int size);

} // namespace bw::widgets
