// SPDX-License-Identifier: MIT
#include "ui/queue_row_text.h"

#include <QCoreApplication>
#include <QStringList>

#include "core/queue_item.h"
#include "widgets/size_text.h"

namespace bw::ui {

using widgets::exactBytesText;
using widgets::sizeText;

QString doneSizeText(std::int64_t bytesDone, std::int64_t totalBytes, int percent)
{
    if (totalBytes / 100 != 0)
        return QStringLiteral("%1 (%2%)").arg(sizeText(bytesDone)).arg(percent);
    return sizeText(bytesDone);
}

QString speedAndTimeLeftText(std::int64_t kBPerSecond, std::int64_t bytesDone, std::int64_t totalBytes)
{
    const QString speed = widgets::speedText(kBPerSecond);
    const QString left = widgets::timeLeftText(totalBytes - bytesDone, kBPerSecond);
    if (speed.isEmpty() || left.isEmpty())
        return speed;
    return QCoreApplication::translate("bw::ui::QueueRowText", "%1, %2 left").arg(speed, left);
}

QString fileColumnText(const core::QueueItem &item)
{
    if (!item.fileName.empty())
        return QString::fromStdString(item.fileName);
    const QString path = QString::fromStdString(item.path);
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts.isEmpty() ? path : parts.last() + QLatin1Char('/');
}

QString rowDetailTip(const QString &statusName, const core::QueueItem &item, bool nameRepeats)
{
    QStringList lines;
    if (!statusName.isEmpty())
        lines << statusName;
    if (item.totalSize > 0)
        lines << QCoreApplication::translate("bw::ui::QueueRowText", "%1 of %2")
                     .arg(exactBytesText(item.bytesDone), exactBytesText(item.totalSize));
    else if (item.bytesDone > 0)
        lines << exactBytesText(item.bytesDone);
    if (nameRepeats) {
        lines << QCoreApplication::translate("bw::ui::QueueRowText", "Folder: %1%2")
                     .arg(QString::fromStdString(item.host), QString::fromStdString(item.path));
        if (!item.localPath.empty())
            lines << QCoreApplication::translate("bw::ui::QueueRowText", "Saved to: %1")
                         .arg(QString::fromStdString(item.localPath));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace bw::ui
