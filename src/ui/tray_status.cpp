// SPDX-License-Identifier: MIT
#include "ui/tray_status.h"

#include <QCoreApplication>

namespace bw::ui {

int trayLoadLevel(int busy, int maxThreads)
{
    if (maxThreads == 0)
        return 4;
    int level = busy * 4 / maxThreads;
    if (busy > 0 && level == 0)
        level = 1;
    return level;
}

TrayStatus trayStatus(bool schedulerRunning, int busy, int jobs, int maxThreads, bool remoteConnected)
{
    TrayStatus status;
    if (schedulerRunning) {
        status.toolTip =
            QCoreApplication::translate("bw::ui::TrayStatus", "%1 Transferring, %2 Attempting, %3 Idle")
                .arg(busy)
                .arg(jobs - busy)
                .arg(maxThreads - jobs);
        const int level = trayLoadLevel(busy, maxThreads);
        status.image = level >= 1 && level <= 4 ? static_cast<TrayImage>(level) : TrayImage::Idle;
    } else {
        status.toolTip = QCoreApplication::translate("bw::ui::TrayStatus", "Idle");
    }
    if (remoteConnected)
        status.image = TrayImage::Manual;
    status.toolTip.truncate(kTrayToolTipLimit);
    return status;
}

} // namespace bw::ui
