// SPDX-License-Identifier: MIT
// What a list pane shows, for comparing in the Qt tests.
#pragma once

#include <QStringList>

#include "widgets/ctrl_list_view.h"
#include "widgets/tiled_list_ctrl.h"

namespace bw::test {

// The first column's text of every row, top to bottom.
inline QStringList rowTexts(const widgets::CCtrlListView &pane)
{
    QStringList texts;
    for (int row = 0; row < pane.list()->rowCount(); ++row)
        texts << pane.list()->itemText(row, 0);
    return texts;
}

} // namespace bw::test
