// SPDX-License-Identifier: MIT
#include "widgets/internal_drag_data.h"

namespace bw::widgets {

InternalDragData::InternalDragData(QString internalText, const QString &publicText)
    : m_internalText(std::move(internalText))
{
    setText(publicText);
}

QString droppedText(const QMimeData &data)
{
    // A drag within one process hands the drop the very object the drag was given.
    if (const auto *own = qobject_cast<const InternalDragData *>(&data))
        return own->internalText();
    return data.text();
}

} // namespace bw::widgets
