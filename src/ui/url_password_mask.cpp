// SPDX-License-Identifier: MIT
#include "ui/url_password_mask.h"

#include <array>

namespace bw::ui {

namespace {

struct Span
{
    qsizetype start = -1;
    qsizetype length = 0;

    bool isValid() const { return start >= 0; }
};

// Where the password sits in the URL text, found as the queue's parser finds it: after the scheme
// prefixes, the user information runs to the last "@" and the password follows its first ":".
Span passwordSpan(const QString &url)
{
    static const std::array<QString, 12> kPrefixes{QStringLiteral("ftp://"), QStringLiteral("ftpu://"),
        QStringLiteral("http://"), QStringLiteral("file://"), QStringLiteral("local://"),
        QStringLiteral("https://"), QStringLiteral("ftps://"), QStringLiteral("ftpes://"),
        QStringLiteral("ftpsu://"), QStringLiteral("ftpesu://"), QStringLiteral("sftp://"),
        QStringLiteral("sftpu://")};
    qsizetype begin = 0;
    bool known = false;
    for (const QString &prefix : kPrefixes) {
        if (QStringView(url).mid(begin).startsWith(prefix)) {
            begin += prefix.size();
            known = true;
        }
    }
    if (!known)
        return {};
    const qsizetype at = url.lastIndexOf(u'@');
    if (at < begin)
        return {};
    const qsizetype colon = url.indexOf(u':', begin);
    if (colon < 0 || colon > at)
        return {};
    return {colon + 1, at - colon - 1};
}

} // namespace

QString maskUrlPassword(const QString &url)
{
    const Span span = passwordSpan(url);
    if (!span.isValid())
        return url;
    QString masked = url;
    masked.replace(span.start, span.length, kPasswordMask);
    return masked;
}

QString unmaskUrlPassword(const QString &edited, const QString &original)
{
    const Span editedSpan = passwordSpan(edited);
    const Span originalSpan = passwordSpan(original);
    if (!editedSpan.isValid() || !originalSpan.isValid()
        || QStringView(edited).mid(editedSpan.start, editedSpan.length) != kPasswordMask)
        return edited;
    QString restored = edited;
    restored.replace(
        editedSpan.start, editedSpan.length, original.mid(originalSpan.start, originalSpan.length));
    return restored;
}

} // namespace bw::ui
