// SPDX-License-Identifier: MIT
// Remembers the main window between runs: its size and position, the toolbar, every splitter's sizes
// and every list's column widths, in the "Window" group of the settings. GUI thread only.
#pragma once

class QMainWindow;
class QSettings;

namespace bw::ui {

void saveWindowState(QSettings &settings, const QMainWindow &window);

// Size, position and toolbar; before the window is first shown, so it opens where it was.
bool restoreWindowGeometry(QSettings &settings, QMainWindow &window);

// Splitter sizes and column widths; after the first show, whose default layout they replace.
void restoreWindowLayout(QSettings &settings, QMainWindow &window);

} // namespace bw::ui
