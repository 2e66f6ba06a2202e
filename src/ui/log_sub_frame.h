// SPDX-License-Identifier: MIT
// The two log panes in the upper strip of the main window, "Batch Log" above "Manual Log". On its
// first showing only the caption of "Batch Log" shows until the user drags the splitter, or until the
// first error of the run opens it by itself.
#pragma once

#include <QSplitter>

namespace bw::widgets {
class CCtrlListView;
} // namespace bw::widgets

namespace bw::ui {

using widgets::CCtrlListView;

// Wide enough to be grabbed with the mouse on any style.
constexpr int kSplitterHandleWidth = 6;

class CLogSubFrame : public QSplitter
{
    Q_OBJECT

public:
    explicit CLogSubFrame(QWidget *parent = nullptr);

    CCtrlListView *batchLog() const { return m_batch; }

    CCtrlListView *manualLog() const { return m_manual; }

    // Routes a line as the main window does: a worker's thread id to "Batch Log", 0 to "Manual Log".
    void addLine(const QString &text, unsigned long threadId);
    void setTimestamp(bool on);

    // Opens "Batch Log" to most of the strip, once per run: after that the user's sizes stay, also
    // when the user closed it again. Nothing changes when the user opened it already.
    void openBatchLogOnce();

    bool hasOpenedBatchLog() const { return m_batchOpened; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    CCtrlListView *m_batch;
    CCtrlListView *m_manual;
    bool m_firstShow = true;
    bool m_batchOpened = false;
};

// The lower strip: queue view, local view and remote browser side by side, sized 2/5, 3/10 and 3/10
// of the width when first shown.
class CSubFrame : public QSplitter
{
    Q_OBJECT

public:
    explicit CSubFrame(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_firstShow = true;
};

} // namespace bw::ui
