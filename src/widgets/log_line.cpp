// SPDX-License-Identifier: MIT
#include "widgets/log_line.h"

#include <QRegularExpression>

#include "core/url_password_mask.h"

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
    if (!match.hasMatch()) // a URL in a line may carry a password too
        return QString::fromStdString(core::maskPasswordsInText(text.toStdString()));
    // A fixed number of asterisks, so the line does not tell the password's length either.
    return match.captured(1) + QStringLiteral("********");
}

bool isErrorLine(const QString &text)
{
    // A reply as received, optionally behind a connection's "[n] : " prefix.
    static const QRegularExpression reply(QStringLiteral(R"(^\s*(?:\[\d+\] : )?[45]\d\d(?: |-|$))"));
    static const QRegularExpression words(
        QStringLiteral(R"(\b(?:fail(?:s|ed|ure)?|error|refused|denied|cannot|timed out)\b)"),
        QRegularExpression::CaseInsensitiveOption);
    return reply.match(text).hasMatch() || words.match(text).hasMatch();
}

} // namespace bw::widgets
