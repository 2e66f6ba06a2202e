// SPDX-License-Identifier: MIT
// Bellwick's own pictures, painted at run time at the pixel size asked for (sharp at any scale): the
// program icon and the toolbar buttons (both taken from the desktop's icon theme where it has them), the
// six notification-area icons and the queue rows' direction images. GUI thread only.
#pragma once

#include <QIcon>

#include "widgets/tray_image.h"

namespace bw::widgets {

enum class ToolIcon
{
    Connect,
    TemporaryDisconnect,
    Disconnect,
    CreateRemoteFolder,
    RemoteDelete,
    Go,
    Delete,
    About,
    ContextHelp,
    AddUrl,
};

// The freedesktop icon name tried first for a toolbar button; null when only the painted one fits.
const char *toolIconThemeName(ToolIcon which);

QIcon programIcon();
QIcon toolIcon(ToolIcon which);
QIcon trayIcon(TrayImage which);
// The queue row images (21..26 of the shared strip); any other index gives a neutral dot.
QIcon queueRowIcon(int image);

} // namespace bw::widgets
