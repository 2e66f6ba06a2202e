// SPDX-License-Identifier: MIT
#include "ui/queue_row.h"

#include <QCoreApplication>

namespace bw::ui {

bool isCompletedStatus(int status)
{
    return status == 2 || status == 8 || status == 13;
}

bool belongsInTab(QueueTab tab, int status, bool removeWhenDone)
{
    if (removeWhenDone)
        return false;
    switch (tab) {
    case QueueTab::Queue:
        return !isCompletedStatus(status);
    case QueueTab::Active:
        return status == 129 || status == 130 || status == 131 || status == 132 || status == 135;
    case QueueTab::Complete:
        return isCompletedStatus(status);
    case QueueTab::Errors:
        // A bad URL (11) and a failed manual connection (12) are failures the user has to see.
        return (status >= 3 && status <= 12) || (status >= 14 && status <= 16);
    }
    return false;
}

int progressPercent(std::int64_t bytesDone, std::int64_t totalBytes)
{
    const std::int64_t hundredth = totalBytes / 100;
    if (hundredth == 0)
        return 0;
    const std::int64_t percent = totalBytes > 32767 ? bytesDone / hundredth : bytesDone * 100 / totalBytes;
    return static_cast<int>(percent);
}

RowAction rowAction(int status, bool upload, std::int64_t totalBytes, int percent)
{
    const int idle = upload ? kImageIdleUpload : kImageIdleDownload;
    const int active = upload ? kImageActiveUpload : kImageActiveDownload;
    switch (status) {
    case 1:
    case 17:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Idle"), idle};
    case 2:
    case 8:
    case 13:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Complete"), idle};
    case 3:
    case 4:
    case 9:
    case 11:
    case 12:
    case 14:
    case 15:
    case 16:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Idle - Error"), idle};
    case 5:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Idle - Timeout"), idle};
    case 6:
    case 10:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Idle - Ratio"), idle};
    case 7:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Idle - Missing"), idle};
    case 130:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Connecting"), active};
    case 131:
    case 132: {
        const QString verb = upload ? QCoreApplication::translate("bw::ui::QueueRow", "Uploading")
                                    : QCoreApplication::translate("bw::ui::QueueRow", "Downloading");
        if (totalBytes > 0)
            return {QStringLiteral("%1 - %2%").arg(verb).arg(percent), active};
        return {verb, active};
    }
    case kStatusInactiveManual:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Manual - Pending"), kImageManualPending};
    case 135:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Manual - Active"), kImageManualActive};
    default:
        return {QCoreApplication::translate("bw::ui::QueueRow", "Active"), active};
    }
}

QString bytesText(std::int64_t bytesDone, std::int64_t totalBytes, int percent)
{
    if (totalBytes / 100 != 0)
        return QStringLiteral("%1 (%2%)").arg(bytesDone).arg(percent);
    return QString::number(bytesDone);
}

QString countText(int attempts, int retryCount)
{
    if (retryCount < 9999)
        return QStringLiteral("%1/%2").arg(attempts).arg(retryCount);
    return QString::number(attempts);
}

} // namespace bw::ui
