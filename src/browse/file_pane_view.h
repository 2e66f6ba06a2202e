// SPDX-License-Identifier: MIT
// src/browse (bw_browse): the site list, the local and remote file panes and the manual connection.
// May use the engine layers, widgets and Qt; never ui or app.
//
// What the local pane and the remote browser share: the Filename, Size and Date columns with their
// icons, the entry behind a row and the sorted filling of a listing, the context menu's commands, and
// the mouse plumbing of the list (a double click opens, the context menu runs a command, a press and
// move starts a drag, drops are taken or refused). Each pane fills in the hooks. GUI thread only.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>

#include "browse/list_entry.h"
#include "widgets/ctrl_list_view.h"

class QKeyEvent;
class QMenu;
class QMimeData;

namespace bw::widgets {
class FileIconList;
}

namespace bw::browse {

class FilePaneView : public widgets::CCtrlListView
{
    Q_OBJECT

public:
    // Context menu commands.
    enum Command
    {
        CommandDelete = 300,
        CommandRename = 301,
        CommandMakeDir = 302,
        CommandRefresh = 303,
        CommandViewFile = 304,
    };

    explicit FilePaneView(QWidget *parent = nullptr);
    ~FilePaneView() override;

    // The entry of a row (the ".." row included).
    ListEntry entry(int row) const;
    int rowOf(const QString &name) const;

    // The context menu for a click on `row` (-1: no row), built but not shown.
    virtual QMenu *buildContextMenu(int row) = 0;
    // Goes into the selected folder (a double click).
    virtual void openDirectory() = 0;
    // Takes the text of a drop on the list.
    virtual void dropText(const QString &text) = 0;

    // Takes the text another program dropped on the list; a pane that would send the user's files
    // asks first.
    virtual void dropOutsideText(const QString &text) { dropText(text); }

    // Backspace: the parent folder, through the ".." row.
    void goUp();
    // The commands both panes have; each pane asks its own questions.
    virtual void deleteSelection() = 0;
    virtual void renameSelection() = 0;
    virtual void makeFolder() = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

    widgets::FileIconList *images() const { return m_images.get(); }

    // A row of a listing, before it is shown.
    struct PaneRow
    {
        ListEntry entry;
        QStringList texts;
        int image = 0;
    };

    // Appends `rows` to the list in the panes' order (the ".." row, folders, then files).
    void appendSortedRows(std::vector<PaneRow> rows);

    // Runs a drag of `dragged` (taken over) out of this pane until it is dropped or given up.
    void execDrag(QMimeData *dragged);

    // The context menu of both panes: for a click on a row the pane's `first` commands, Rename and View
    // File; then Make Dir, the pane's `extra` commands, Refresh; and for a row Delete, set apart at the
    // end; each enabled as `enabled` says.
    QMenu *buildFileMenu(int row, bool enabled, const QList<std::pair<QString, int>> &extra = {},
        const QList<std::pair<QString, int>> &first = {});

    // Carries out a command of the context menu or a key (0: none chosen). The shared commands run
    // here; a pane with commands of its own takes those first and hands the rest on.
    virtual void runCommand(int command);

private:
    // View File on the selected rows.
    virtual void viewSelectedFiles() = 0;
    // Refresh: the pane's folder listed again.
    virtual void refreshFolder() = 0;

    // Enter on a file: queue or open the selected files.
    virtual void activateFiles() {}

    // The pane's keys: Enter, Backspace, F2, F5. Del is the window's (it acts on the focused pane);
    // type-ahead is the list's own.
    bool handleKey(const QKeyEvent *key);
    // The left button moved far enough from a press on a row.
    virtual void startDrag() = 0;

    // Whether a drag over the list may be dropped here now.
    virtual bool acceptsDrop() const { return true; }

    void showContextMenu(const QPoint &viewportPos);

    std::unique_ptr<widgets::FileIconList> m_images;
    QPoint m_pressPos;
};

} // namespace bw::browse
