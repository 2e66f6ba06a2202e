// SPDX-License-Identifier: MIT
#include "ui/log_sub_frame.h"

#include <QShowEvent>

#include "ui/log_pane_copy.h"
#include "widgets/ctrl_list_view.h"

namespace bw::ui {

CLogSubFrame::CLogSubFrame(QWidget *parent)
    : QSplitter(Qt::Vertical, parent)
    , m_batch(new CCtrlListView(this))
    , m_manual(new CCtrlListView(this))
{
    m_batch->setCaption(tr("Batch Log"));
    m_manual->setCaption(tr("Manual Log"));
    m_batch->setObjectName(QStringLiteral("Batch Log"));
    m_manual->setObjectName(QStringLiteral("Manual Log"));
    addWidget(m_batch);
    addWidget(m_manual);
    new LogPaneCopy(m_batch->list());
    new LogPaneCopy(m_manual->list());
    setChildrenCollapsible(false);
    setHandleWidth(kSplitterHandleWidth);
}

void CLogSubFrame::addLine(const QString &text, unsigned long threadId)
{
    (threadId != 0 ? m_batch : m_manual)->addLine(text, threadId);
}

void CLogSubFrame::setTimestamp(bool on)
{
    m_batch->setTimestamp(on);
    m_manual->setTimestamp(on);
}

void CLogSubFrame::showEvent(QShowEvent *event)
{
    QSplitter::showEvent(event);
    if (!m_firstShow)
        return;
    m_firstShow = false;
    // Only the caption of "Batch Log" shows until the user drags the splitter.
    const int caption = CCtrlListView::captionHeight();
    setSizes({caption, std::max(caption, height() - caption - handleWidth())});
}

void CLogSubFrame::openBatchLogOnce()
{
    if (m_batchOpened)
        return;
    m_batchOpened = true;
    const QList<int> rows = sizes();
    const int caption = CCtrlListView::captionHeight();
    if (rows.size() != 2 || rows[0] > caption)
        return;
    // "Manual Log" keeps a third, so its caption and a line or two stay in sight.
    const int total = rows[0] + rows[1];
    const int manual = std::max(caption, total / 3);
    setSizes({std::max(caption, total - manual), manual});
}

CSubFrame::CSubFrame(QWidget *parent)
    : QSplitter(Qt::Horizontal, parent)
{
    setHandleWidth(kSplitterHandleWidth);
}

void CSubFrame::showEvent(QShowEvent *event)
{
    QSplitter::showEvent(event);
    if (!m_firstShow || count() != 3)
        return;
    m_firstShow = false;
    const int total = std::max(0, width() - 2 * handleWidth());
    setSizes({total * 2 / 5, total * 3 / 10, total - total * 2 / 5 - total * 3 / 10});
}

} // namespace bw::ui
