// SPDX-License-Identifier: MIT
// Drag data of Bellwick's own drags (between the file panes and the queue). The full text, logins and
// all, stays a C++ member that only a drop inside this process reads; other programs, which can read
// every format a drag offers, get only the public text (addresses without passwords). GUI thread only.
#pragma once

#include <QMimeData>
#include <QString>

namespace bw::widgets {

class InternalDragData : public QMimeData
{
    Q_OBJECT

public:
    InternalDragData(QString internalText, const QString &publicText);

    QString internalText() const { return m_internalText; }

private:
    QString m_internalText;
};

// What a drop inside Bellwick reads: the full text of its own drags, the plain text of any other.
QString droppedText(const QMimeData &data);

} // namespace bw::widgets
