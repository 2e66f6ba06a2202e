// SPDX-License-Identifier: MIT
// Where Help Topics finds the manual at run time: where a package installs it, below any of the
// desktop's data folders, or beside the program in a build folder. No path of the build machine is
// compiled in, so a package built elsewhere finds its own copy.
#pragma once

#include <QString>
#include <QStringList>

namespace bw::ui {

// The first "manual.html" that exists, looked for in this order: `programDir`/../share/doc/Bellwick,
// each of `dataDirs`/doc/Bellwick (the XDG data folders, /usr/share among them), then
// `programDir`/docs (a build folder's copy). Empty when there is none.
QString findManual(const QString &programDir, const QStringList &dataDirs);

} // namespace bw::ui
