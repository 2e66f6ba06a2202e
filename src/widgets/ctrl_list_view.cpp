// SPDX-License-Identifier: MIT
#include "widgets/ctrl_list_view.h"

#include <algorithm>

#include <QHeaderView>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTime>

#include "platform/thread_util.h"
#include "widgets/caption_bar.h"
#include "widgets/image_list.h"
#include "widgets/log_line.h"

namespace bw::widgets {

namespace {

// Kept on the scroll bar of a list that shows log lines: whether the view stays on the newest line.
constexpr const char *kFollowsTail = "bwFollowsTail";

// A log pane follows new lines only while the reader is at the bottom, so reading older lines is not
// disturbed. Tracked from the scroll bar rather than checked per line: the list lays out new rows
// later, and a burst of lines would otherwise look as if the reader had scrolled up.
void followTail(QScrollBar *scroll)
{
    if (scroll->property(kFollowsTail).isValid())
        return;
    scroll->setProperty(kFollowsTail, true);
    QObject::connect(scroll, &QScrollBar::valueChanged, scroll,
        [scroll](int value) { scroll->setProperty(kFollowsTail, value >= scroll->maximum()); });
    QObject::connect(scroll, &QScrollBar::rangeChanged, scroll, [scroll](int, int maximum) {
        if (scroll->property(kFollowsTail).toBool())
            scroll->setValue(maximum);
    });
}

} // namespace

CCtrlListView::CCtrlListView(QWidget *parent)
    : QWidget(parent)
    , m_caption(new CaptionBar(tr("NoName"), this))
    , m_list(new TiledListCtrl(this))
{
    m_list->insertColumn(0, tr("Entry"), 500);
    // The text takes the pane's width, however wide the window.
    m_list->header()->setStretchLastSection(true);
    m_list->show();
    layoutChildren();
}

QString CCtrlListView::caption() const
{
    return m_caption->text();
}

void CCtrlListView::setCaption(const QString &caption)
{
    m_caption->setText(caption);
}

void CCtrlListView::repaintCaption()
{
    m_caption->update();
}

int CCtrlListView::captionHeight()
{
    return CaptionBar::captionHeight();
}

void CCtrlListView::setControlStrip(QWidget *strip, QWidget *stretchControl)
{
    if (m_strip && m_strip != strip)
        m_strip->deleteLater();
    m_strip = strip;
    m_stretchControl = stretchControl;
    if (m_strip) {
        m_strip->setParent(this);
        m_strip->show();
    }
    layoutChildren();
}

void CCtrlListView::addLine(const QString &text, unsigned long threadId)
{
    // A line with no words would show as a bare thread number ("[32672]").
    if (text.trimmed().isEmpty())
        return;
    if (threadId == 0)
        threadId = platform::currentThreadId();
    QScrollBar *scroll = m_list->verticalScrollBar();
    followTail(scroll);
    // One repaint for the trimmed lines and the new one together.
    m_list->setRedraw(false);
    while (m_list->rowCount() > 0 && m_list->rowCount() >= m_maxLines)
        m_list->deleteItem(0);
    const QString line =
        formatLogLine(maskPassword(text), threadId, QTime::currentTime(), m_timestamp, m_showThread);
    const int row = m_list->insertItem(m_list->rowCount(), line, kImageLogLine);
    if (isErrorLine(text))
        m_list->listModel()->setEmphasized(row, true);
    if (scroll->property(kFollowsTail).toBool())
        m_list->ensureRowVisible(row);
    m_list->setRedraw(true);
}

QSize CCtrlListView::minimumSizeHint() const
{
    return {0, captionHeight()};
}

void CCtrlListView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
    m_caption->update();
}

void CCtrlListView::layoutChildren()
{
    const int captionBottom = captionHeight();
    m_caption->setGeometry(0, 0, width(), captionBottom);
    int top = captionBottom;
    if (m_strip) {
        const int stripHeight = std::max({m_strip->sizeHint().height(), m_strip->minimumHeight(), 0});
        m_strip->setGeometry(0, top, width(), stripHeight);
        if (m_stretchControl) {
            const QRect control = m_stretchControl->geometry();
            m_stretchControl->setGeometry(
                control.x(), control.y(), std::max(0, width() - 4 - control.x()), control.height());
        }
        top += stripHeight;
    }
    m_list->setGeometry(0, top, width(), std::max(0, height() - top));
}

} // namespace bw::widgets
