// SPDX-License-Identifier: MIT
#include "widgets/caption_bar.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

namespace bw::widgets {

CaptionBar::CaptionBar(const QString &text, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(captionHeight());
}

void CaptionBar::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

QFont CaptionBar::captionFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::SmallestReadableFont);
    font.setPointSize(8);
    return font;
}

int CaptionBar::captionHeight()
{
    return QFontMetrics(captionFont()).height() + 4;
}

CaptionColors CaptionBar::colors(const QPalette &palette, bool active)
{
    if (active)
        return {palette.color(QPalette::Active, QPalette::Highlight),
            palette.color(QPalette::Active, QPalette::HighlightedText)};
    return {palette.color(QPalette::Inactive, QPalette::Mid),
        palette.color(QPalette::Inactive, QPalette::WindowText)};
}

bool CaptionBar::showsActive() const
{
    const QWidget *top = window();
    return top && top->isActiveWindow();
}

QSize CaptionBar::sizeHint() const
{
    return {QFontMetrics(captionFont()).horizontalAdvance(m_text) + 4, captionHeight()};
}

void CaptionBar::paintEvent(QPaintEvent *)
{
    const CaptionColors colours = colors(palette(), showsActive());
    QPainter p(this);
    p.fillRect(QRect(0, 0, width(), captionHeight()), colours.fill);
    p.setFont(captionFont());
    p.setPen(colours.text);
    const QFontMetrics metrics(p.font());
    p.drawText(QPoint(2, 2 + metrics.ascent()), metrics.elidedText(m_text, Qt::ElideRight, width() - 4));
}

void CaptionBar::changeEvent(QEvent *event)
{
    // Every widget of a window hears when the window gains or loses activation, so all panes'
    // captions change colour together.
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

} // namespace bw::widgets
