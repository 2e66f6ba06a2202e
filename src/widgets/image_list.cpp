// SPDX-License-Identifier: MIT
#include "widgets/image_list.h"

#include <QPainter>
#include <QPixmap>

#include "widgets/app_icons.h"

namespace bw::widgets {

QIcon ImageList::icon(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return m_icons.at(index);
}

int ImageList::add(const QIcon &icon)
{
    m_icons.append(icon);
    return count() - 1;
}

namespace {

// A sheet of lined paper: the image of a log line.
QIcon logLineIcon()
{
    QPixmap pixmap(kListImageSize, kListImageSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 96, 110), 1));
    p.setBrush(QColor(250, 250, 244));
    p.drawRoundedRect(QRectF(4.5, 2.5, 11, 15), 1.5, 1.5);
    p.setPen(QPen(QColor(110, 130, 170), 1));
    for (int y = 6; y <= 14; y += 3)
        p.drawLine(QPointF(7, y + 0.5), QPointF(13, y + 0.5));
    return QIcon(pixmap);
}

class StripImages : public ImageList
{
public:
    StripImages()
    {
        for (int i = 0; i < kListImageCount; ++i)
            add(i == kImageLogLine ? logLineIcon() : queueRowIcon(i));
    }
};

} // namespace

const ImageList &listStripImages()
{
    static const StripImages images;
    return images;
}

} // namespace bw::widgets
