// SPDX-License-Identifier: MIT
// How a log pane writes one line: the optional time and thread prefixes, and the password of a sent
// "PASS" command hidden behind asterisks. Pure functions.
#pragma once

#include <QString>
#include <QTime>

namespace bw::widgets {

// "[hh:mm:ss tid] text", "[hh:mm:ss] text", "[tid] text" or the text alone.
QString formatLogLine(
    const QString &text, unsigned long threadId, const QTime &localTime, bool timestamp, bool showThread);

// A "PASS" command (any case, with or without the connection's "[n] : " prefix) keeps its verb and
// shows asterisks in place of the password; any other text is returned unchanged.
QString maskPassword(const QString &text);

// A line that reports a failure: a 4xx or 5xx reply, or a status that says something failed or was
// refused. Such lines stand out in the log panes.
bool isErrorLine(const QString &text);

} // namespace bw::widgets
