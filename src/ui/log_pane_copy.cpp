// SPDX-License-Identifier: MIT
#include "ui/log_pane_copy.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QStringList>

#include "widgets/tiled_list_ctrl.h"

namespace bw::ui {

LogPaneCopy::LogPaneCopy(widgets::TiledListCtrl *list)
    : QObject(list)
    , m_list(list)
{
    auto *copy = new QAction(tr("Copy"), list);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    auto *selectAll = new QAction(tr("Select All"), list);
    selectAll->setShortcut(QKeySequence::SelectAll);
    selectAll->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &LogPaneCopy::copySelection);
    connect(selectAll, &QAction::triggered, list, &QAbstractItemView::selectAll);
    list->addAction(copy);
    list->addAction(selectAll);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    // The window's own Copy key must not take Ctrl+C away from a focused log pane.
    list->installEventFilter(this);
}

QString LogPaneCopy::selectedText(const widgets::TiledListCtrl *list)
{
    QStringList lines;
    for (const int row : list->selectedRows())
        lines << list->itemText(row, 0);
    return lines.join(QLatin1Char('\n'));
}

void LogPaneCopy::copySelection()
{
    const QString text = selectedText(m_list);
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool LogPaneCopy::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list
        && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Copy)) {
            if (event->type() == QEvent::KeyPress)
                copySelection();
            event->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace bw::ui
