// SPDX-License-Identifier: MIT
// src/widgets (bw_widgets): the Qt building blocks shared by the file panes and the window: list views
// and their model and delegate, caption bars, icons, number formatting, small dialogs, options pages.
// May use the engine layers and Qt; never browse, ui or app.
//
// A pane: a caption bar on top, an optional control strip under it, and a TiledListCtrl filling the
// rest. The two log panes are plain CCtrlListViews; the file panes derive from it. GUI thread only.
#pragma once

#include <QWidget>

#include "widgets/tiled_list_ctrl.h"

namespace bw::widgets {

class CaptionBar;

class CCtrlListView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kListId = 101;
    static constexpr int kDefaultMaxLines = 500;

    explicit CCtrlListView(QWidget *parent = nullptr);

    QString caption() const;
    void setCaption(const QString &caption);
    // Repaints the caption bar in the colours of the window's current active state.
    void repaintCaption();
    static int captionHeight();

    CaptionBar *captionBar() const { return m_caption; }

    // An optional strip of controls under the caption (owned by the view from then on). The stretch
    // control, if any, is widened with the pane to end 4 pixels before the right edge.
    void setControlStrip(QWidget *strip, QWidget *stretchControl = nullptr);

    QWidget *controlStrip() const { return m_strip; }

    TiledListCtrl *list() const { return m_list; }

    // Log lines. Thread id 0 stands for the calling thread.
    void addLine(const QString &text, unsigned long threadId);

    bool showThread() const { return m_showThread; }

    void setShowThread(bool on) { m_showThread = on; }

    bool timestamp() const { return m_timestamp; }

    void setTimestamp(bool on) { m_timestamp = on; }

    int maxLines() const { return m_maxLines; }

    void setMaxLines(int lines) { m_maxLines = lines; }

    // A pane can shrink to its caption bar.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutChildren();

    CaptionBar *m_caption;
    QWidget *m_strip = nullptr;
    QWidget *m_stretchControl = nullptr;
    TiledListCtrl *m_list;
    bool m_showThread = true;
    bool m_timestamp = false;
    int m_maxLines = kDefaultMaxLines;
};

} // namespace bw::widgets
