// SPDX-License-Identifier: MIT
// What the notification-area icon shows: a load level from the scheduler's job counts and the tooltip.
#pragma once

#include <QString>

#include "widgets/tray_image.h"

namespace bw::ui {

using widgets::TrayImage;

struct TrayStatus
{
    TrayImage image = TrayImage::Idle;
    QString toolTip;
};

// Load level 0..4 of `busy` jobs holding a connection out of `maxThreads`: 4 when no jobs are allowed at
// all, and at least 1 as soon as one job is busy.
int trayLoadLevel(int busy, int maxThreads);

// The icon and tooltip for the scheduler's state; a connected remote browser always shows the manual icon.
TrayStatus trayStatus(bool schedulerRunning, int busy, int jobs, int maxThreads, bool remoteConnected);

// Tooltips longer than 63 characters are cut.
constexpr int kTrayToolTipLimit = 63;

} // namespace bw::ui
