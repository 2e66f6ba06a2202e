// SPDX-License-Identifier: MIT
// The places the local pane's drop-down offers: the home, download and desktop folders, then every
// mounted volume by its name. GUI thread only.
#pragma once

#include <QList>
#include <QString>

namespace bw::browse {

struct LocalPlace
{
    QString name; // what the drop-down shows
    QString path;
};

// Folders that do not exist are left out, and a volume is listed once.
QList<LocalPlace> localPlaces();

} // namespace bw::browse
