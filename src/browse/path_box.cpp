// SPDX-License-Identifier: MIT
#include "browse/path_box.h"

#include <QStyle>
#include <QStyleOptionFrame>

namespace bw::browse {

PathBox::PathBox(QWidget *parent)
    : QLineEdit(parent)
{
    connect(this, &QLineEdit::returnPressed, this, [this] { emit pathEntered(text()); });
}

void PathBox::setPath(const QString &path)
{
    m_path = path;
    showPath();
}

void PathBox::showPath()
{
    // While the user edits, the box holds the whole folder (or what is being typed).
    if (hasFocus()) {
        setText(m_path);
        return;
    }
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect room = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    // The two ends say most: the volume and the folder itself.
    setText(isVisible() ? fontMetrics().elidedText(m_path, Qt::ElideMiddle, room.width() - 4) : m_path);
    setCursorPosition(0);
}

void PathBox::focusInEvent(QFocusEvent *event)
{
    setText(m_path);
    QLineEdit::focusInEvent(event);
}

void PathBox::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    showPath();
}

void PathBox::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    if (!hasFocus())
        showPath();
}

} // namespace bw::browse
