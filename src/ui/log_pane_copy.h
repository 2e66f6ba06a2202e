// SPDX-License-Identifier: MIT
// Lets the lines of a log pane be copied: Ctrl+C (the desktop's Copy key) and a "Copy" / "Select All"
// context menu on the list. Lives as a child of the list; GUI thread only.
#pragma once

#include <QObject>

namespace bw::widgets {
class TiledListCtrl;
}

namespace bw::ui {

class LogPaneCopy : public QObject
{
    Q_OBJECT

public:
    explicit LogPaneCopy(widgets::TiledListCtrl *list);

    // The selected lines in list order, one per line; empty when nothing is selected.
    static QString selectedText(const widgets::TiledListCtrl *list);

    // Puts the selected lines on the clipboard; leaves the clipboard alone when nothing is selected.
    void copySelection();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    widgets::TiledListCtrl *m_list;
};

} // namespace bw::ui
