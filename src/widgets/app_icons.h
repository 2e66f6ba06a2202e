// SPDX-License-Identifier: MIT
// Bellwick's own pictures, painted at run time: the program icon, the toolbar buttons, the six
// notification-area icons and the queue rows' direction images.
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

QIcon programIcon();
QIcon toolIcon(ToolIcon which);
QIcon trayIcon(TrayImage which);
// The queue row images (21..26 of the shared strip); any other index gives a neutral dot.
QIcon queueRowIcon(int image);

} // namespace bw::widgets
