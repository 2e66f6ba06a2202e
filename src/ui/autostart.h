// SPDX-License-Identifier: MIT
// The log-on start entry: written when the desktop session ends while Bellwick runs, removed again at
// every window creation, so Bellwick comes back once at the next log-on.
#pragma once

#include <QString>

namespace bw::ui {

// ~/.config/autostart/Bellwick.desktop (the user's configuration folder).
QString autostartEntryPath();

// Writes the entry that starts `programPath` at log-on; false when the folder or file cannot be written.
// The file is replaced whole or not at all.
bool writeAutostartEntry(const QString &entryPath, const QString &programPath);
// Removes the entry; true when none is left.
bool removeAutostartEntry(const QString &entryPath);

} // namespace bw::ui
