// SPDX-License-Identifier: MIT
// Where the window program keeps its queue and diagnostic log, and where the local pane starts: the
// per-user data, state and download folders of the XDG base-directory and user-dirs conventions.
// GUI thread, at start-up.
#pragma once

#include <QString>

namespace bw::app {

// "$XDG_DATA_HOME/Tolvenby/Bellwick" (~/.local/share when unset), beside the saved sites.
QString dataFolder();
// "$XDG_STATE_HOME/Tolvenby/Bellwick" (~/.local/state when unset or not absolute).
QString stateFolder();
// The user's download folder (xdg-user-dirs' DOWNLOAD), else ~/Downloads, else the home folder: the first
// of them that exists.
QString downloadFolder();

struct StartFiles
{
    QString queueFile; // absolute; the caller creates it empty when missing
    QString logFile;
};

// The queue named on the command line, or "filelist.ftp" in `workingDirectory` when one is there, keeps
// the queue and the log beside where the program started, as earlier versions did; otherwise both go to
// the data and state folders.
StartFiles chooseStartFiles(const QString &namedQueueFile, const QString &workingDirectory);

} // namespace bw::app
