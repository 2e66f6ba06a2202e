// SPDX-License-Identifier: MIT
// View File's last step: the desktop opens the file with its program. When it cannot (no program, no
// desktop helper), the user is told where the file is and offered its folder. GUI thread only.
#pragma once

#include <functional>

#include <QUrl>

class QWidget;

namespace bw::browse {

// Opens `file` through `open` (QDesktopServices::openUrl in the program); when that fails, says so in a
// message box that offers to open the file's folder through `open`.
void openWithDesktop(
    const QUrl &file, const std::function<bool(const QUrl &)> &open, QWidget *parent = nullptr);

} // namespace bw::browse
