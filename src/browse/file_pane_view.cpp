// SPDX-License-Identifier: MIT
#include "browse/file_pane_view.h"

#include <algorithm>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

#include "widgets/file_icon_list.h"
#include "widgets/internal_drag_data.h"

namespace bw::browse {

FilePaneView::FilePaneView(QWidget *parent)
    : CCtrlListView(parent)
    , m_images(std::make_unique<widgets::FileIconList>())
{
    m_images->preloadPaneImages();
    widgets::TiledListCtrl *rows = list();
    rows->setImageList(m_images.get());
    // The file columns go in front of the log column, which stays hidden.
    rows->insertColumn(0, tr("Filename"), 150);
    rows->insertColumn(1, tr("Size"), 100);
    rows->insertColumn(2, tr("Date"), 125);
    rows->setColumnHidden(3, true);
    rows->setSelectionMode(QAbstractItemView::ExtendedSelection);
    rows->setDragEnabled(false);
    rows->viewport()->setAcceptDrops(true);
    rows->viewport()->installEventFilter(this);
    rows->installEventFilter(this);
}

FilePaneView::~FilePaneView() = default;

ListEntry FilePaneView::entry(int row) const
{
    return list()->record(row).data.value<ListEntry>();
}

int FilePaneView::rowOf(const QString &name) const
{
    for (int row = 0; row < list()->rowCount(); ++row) {
        if (list()->itemText(row, 0) == name)
            return row;
    }
    return -1;
}

void FilePaneView::appendSortedRows(std::vector<PaneRow> rows)
{
    std::stable_sort(rows.begin(), rows.end(),
        [](const PaneRow &a, const PaneRow &b) { return listEntryLess(a.entry, b.entry); });
    for (const PaneRow &row : rows) {
        const int index = list()->appendItem(row.texts, row.image);
        list()->setRecord(index, widgets::RowRecord{-1, -1, 0, QVariant::fromValue(row.entry)});
    }
}

void FilePaneView::execDrag(QMimeData *dragged)
{
    auto *drag = new QDrag(this);
    drag->setMimeData(dragged);
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
}

QMenu *FilePaneView::buildFileMenu(int row, bool enabled, const QList<std::pair<QString, int>> &extra,
    const QList<std::pair<QString, int>> &first)
{
    auto *menu = new QMenu(this);
    auto add = [menu, enabled](const QString &text, int command) {
        QAction *action = menu->addAction(text);
        action->setData(command);
        action->setEnabled(enabled);
    };
    if (row >= 0) {
        for (const auto &[text, command] : first)
            add(text, command);
        add(tr("Rename..."), CommandRename);
        add(tr("View File..."), CommandViewFile);
    }
    add(tr("Make Dir..."), CommandMakeDir);
    for (const auto &[text, command] : extra)
        add(text, command);
    add(tr("Refresh"), CommandRefresh);
    // The one command that loses files sits apart, where a slip of the mouse does not reach it.
    if (row >= 0) {
        menu->addSeparator();
        add(tr("Delete"), CommandDelete);
    }
    return menu;
}

void FilePaneView::runCommand(int command)
{
    switch (command) {
    case CommandDelete:
        deleteSelection();
        break;
    case CommandRename:
        renameSelection();
        break;
    case CommandViewFile:
        viewSelectedFiles();
        break;
    case CommandMakeDir:
        makeFolder();
        break;
    case CommandRefresh:
        refreshFolder();
        break;
    default:
        break;
    }
}

void FilePaneView::showContextMenu(const QPoint &viewportPos)
{
    const int row = list()->rowAt(viewportPos);
    if (row >= 0)
        list()->selectRow(row, false);
    QMenu *menu = buildContextMenu(row);
    QAction *chosen = menu->exec(list()->viewport()->mapToGlobal(viewportPos));
    const int command = chosen ? chosen->data().toInt() : 0;
    menu->deleteLater();
    runCommand(command);
}

bool FilePaneView::handleKey(const QKeyEvent *key)
{
    if ((key->modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier)) != Qt::NoModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const int row =
            list()->currentIndex().isValid() ? list()->currentIndex().row() : list()->firstSelectedRow();
        if (row < 0)
            return true;
        if (list()->selectedRows().isEmpty())
            list()->selectRow(row);
        if (entry(row).isDirectory)
            openDirectory();
        else
            activateFiles();
        return true;
    }
    case Qt::Key_Backspace:
        goUp();
        return true;
    case Qt::Key_F2:
        runCommand(CommandRename);
        return true;
    case Qt::Key_F5:
        runCommand(CommandRefresh);
        return true;
    default:
        return false;
    }
}

void FilePaneView::goUp()
{
    const int parent = rowOf(QStringLiteral(".."));
    if (parent < 0)
        return;
    list()->selectRow(parent);
    openDirectory();
}

bool FilePaneView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == list() && event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent *>(event)))
        return true;
    if (watched != list()->viewport())
        return CCtrlListView::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        openDirectory();
        return true;
    case QEvent::ContextMenu:
        showContextMenu(static_cast<QContextMenuEvent *>(event)->pos());
        return true;
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton)
            m_pressPos = mouse->position().toPoint();
        break;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if ((mouse->buttons() & Qt::LeftButton)
            && (mouse->position().toPoint() - m_pressPos).manhattanLength()
                >= QApplication::startDragDistance()
            && list()->rowAt(m_pressPos) >= 0) {
            startDrag();
            return true;
        }
        break;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (acceptsDrop()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (!acceptsDrop()) {
            drop->ignore();
            return true;
        }
        const QMimeData &dropped = *drop->mimeData();
        const QString text = widgets::droppedText(dropped);
        const bool own = qobject_cast<const widgets::InternalDragData *>(&dropped) != nullptr;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (own)
            dropText(text);
        else
            dropOutsideText(text);
        return true;
    }
    default:
        break;
    }
    return CCtrlListView::eventFilter(watched, event);
}

} // namespace bw::browse
