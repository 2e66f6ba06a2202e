// SPDX-License-Identifier: MIT
#include "widgets/log_line.h"

#include <QRegularExpression>

namespace bw::widgets {

QString formatLogLine(
    const QString &text, unsigned long threadId, const QTime &localTime, bool timestamp, bool showThread)
{
    const QString time = localTime.toString(QStringLiteral("HH:mm:ss"));
    if (timestamp && showThread)
        return QStringLiteral("[%1 %2] %3").arg(time).arg(threadId).arg(text);
    if (timestamp)
        return QStringLiteral("[%1] %2").arg(time, text);
    if (showThread)
        return QStringLiteral("[%1] %2").arg(threadId).arg(text);
    return text;
}

QString maskPassword(const QString &text)
{
    // The command as sent, optionally behind a connection's "[n] : " prefix.
    static const QRegularExpression pass(QStringLiteral(R"(^(\s*(?:\[\d+\] : )?PASS )(.+)$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = pass.match(text);
    if (!match.hasMatch())
        return text;
    // A fixed number of asterisks, so the line does not tell the password's length either.
    return match.captured(1) + QStringLiteral("********");
}

} // namespace bw::widgets
