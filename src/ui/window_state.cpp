// SPDX-License-Identifier: MIT
#include "ui/window_state.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QSettings>
#include <QSplitter>
#include <QTreeView>

namespace bw::ui {

namespace {

const QString kGroup = QStringLiteral("Window");

// Splitters and lists are keyed by their place among their kind, which the window's fixed layout
// keeps the same from run to run; a changed layout only loses the remembered sizes.
template <typename Widget>
QString keyOf(const QString &kind, int index, const Widget *widget)
{
    const QString name = widget->objectName();
    return QStringLiteral("%1/%2-%3")
        .arg(kind)
        .arg(index)
        .arg(name.isEmpty() ? QStringLiteral("unnamed") : name);
}

} // namespace

void saveWindowState(QSettings &settings, const QMainWindow &window)
{
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("Geometry"), window.saveGeometry());
    settings.setValue(QStringLiteral("State"), window.saveState());
    const QList<QSplitter *> splitters = window.findChildren<QSplitter *>();
    for (int i = 0; i < splitters.size(); ++i)
        settings.setValue(keyOf(QStringLiteral("Splitter"), i, splitters[i]), splitters[i]->saveState());
    const QList<QTreeView *> lists = window.findChildren<QTreeView *>();
    for (int i = 0; i < lists.size(); ++i)
        settings.setValue(keyOf(QStringLiteral("Columns"), i, lists[i]), lists[i]->header()->saveState());
    settings.endGroup();
    settings.sync();
}

bool restoreWindowGeometry(QSettings &settings, QMainWindow &window)
{
    settings.beginGroup(kGroup);
    const bool restored = window.restoreGeometry(settings.value(QStringLiteral("Geometry")).toByteArray());
    window.restoreState(settings.value(QStringLiteral("State")).toByteArray());
    settings.endGroup();
    return restored;
}

void restoreWindowLayout(QSettings &settings, QMainWindow &window)
{
    settings.beginGroup(kGroup);
    const QList<QSplitter *> splitters = window.findChildren<QSplitter *>();
    for (int i = 0; i < splitters.size(); ++i) {
        const QByteArray state =
            settings.value(keyOf(QStringLiteral("Splitter"), i, splitters[i])).toByteArray();
        if (!state.isEmpty())
            splitters[i]->restoreState(state);
    }
    const QList<QTreeView *> lists = window.findChildren<QTreeView *>();
    for (int i = 0; i < lists.size(); ++i) {
        const QByteArray state = settings.value(keyOf(QStringLiteral("Columns"), i, lists[i])).toByteArray();
        if (!state.isEmpty())
            lists[i]->header()->restoreState(state);
    }
    settings.endGroup();
}

} // namespace bw::ui
