// SPDX-License-Identifier: MIT
#include "widgets/url_text.h"

#include <array>

#include <QMimeData>
#include <QRegularExpression>

#include "core/url.h"
#include "widgets/internal_drag_data.h"

namespace bw::widgets {

namespace {

constexpr std::array kSchemes{"ftp://", "ftps://", "ftpes://", "ftpu://", "ftpsu://", "ftpesu://", "sftp://",
    "sftpu://", "http://", "https://"};

bool endsUrl(QChar c)
{
    return c.isSpace() || c == u'"' || c == u'\'' || c == u'<' || c == u'>' || c == u'`'
        || c == kUrlListSeparator || c.category() == QChar::Other_Control;
}

// Sentence punctuation after a link is not part of it; a closing bracket is only when the link opened one.
QString trimTrailing(QString url)
{
    for (;;) {
        if (url.isEmpty())
            return url;
        const QChar last = url.back();
        if (QStringLiteral(".,;:!?").contains(last)) {
            url.chop(1);
            continue;
        }
        const QChar open = last == u')' ? u'(' : last == u']' ? u'[' : last == u'}' ? u'{' : QChar();
        if (!open.isNull() && url.count(open) < url.count(last)) {
            url.chop(1);
            continue;
        }
        return url;
    }
}

QStringList uriListLines(const QString &text)
{
    QStringList urls;
    for (const QString &line : text.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(u'#'))
            urls << trimmed;
    }
    return urls;
}

} // namespace

bool hasTransferScheme(const QString &text)
{
    for (const char *scheme : kSchemes) {
        if (text.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QStringList findUrls(const QString &text)
{
    static const QRegularExpression start(
        QStringLiteral("((?:ftp(?:e?s)?|sftp)u?|https?)://"), QRegularExpression::CaseInsensitiveOption);
    QStringList urls;
    qsizetype from = 0;
    for (;;) {
        const QRegularExpressionMatch match = start.match(text, from);
        if (!match.hasMatch())
            break;
        qsizetype begin = match.capturedStart();
        // "xftp://" is not an ftp link.
        if (begin > 0 && text[begin - 1].isLetterOrNumber()) {
            from = match.capturedEnd();
            continue;
        }
        qsizetype end = match.capturedEnd();
        while (end < text.size() && !endsUrl(text[end]))
            ++end;
        const QString url = trimTrailing(text.mid(begin, end - begin));
        if (url.size() > match.capturedLength() && !urls.contains(url))
            urls << url;
        from = end;
    }
    return urls;
}

QStringList urlPieces(const QString &text)
{
    if (text.contains(kUrlListSeparator))
        return text.split(kUrlListSeparator);
    QStringList pieces;
    for (const QString &line : text.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            pieces << trimmed;
    }
    return pieces;
}

QStringList urlsFromMimeData(const QMimeData &data)
{
    // Rows dragged from Bellwick's own panes carry their logins only inside the program.
    if (qobject_cast<const InternalDragData *>(&data))
        return urlPieces(droppedText(data));
    const QString uriList = QStringLiteral("text/uri-list");
    if (data.hasFormat(uriList)) {
        const QStringList urls = uriListLines(QString::fromUtf8(data.data(uriList)));
        if (!urls.isEmpty())
            return urls;
    }
    const QString mozUrl = QStringLiteral("text/x-moz-url");
    if (data.hasFormat(mozUrl)) {
        // UTF-16 in the byte order of the machine: the URL, then its title, line after line.
        const QByteArray bytes = data.data(mozUrl);
        const QString text =
            QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
        const QStringList lines = text.split(u'\n');
        QStringList urls;
        for (qsizetype i = 0; i < lines.size(); i += 2) {
            const QString url = lines[i].trimmed().remove(QChar(0));
            if (!url.isEmpty())
                urls << url;
        }
        if (!urls.isEmpty())
            return urls;
    }
    if (data.hasText())
        return urlPieces(data.text());
    return {};
}

bool sendsLocalFiles(const QString &piece)
{
    // The queue reads a leading "{id}" as the parent of a dragged row; what follows is the URL.
    QString text = piece.trimmed();
    const qsizetype brace = text.indexOf(u'}');
    if (brace >= 0)
        text = text.mid(brace + 1);
    while (text.startsWith(u'}'))
        text.remove(0, 1);
    // Judged in lower case, whatever case the queue reads schemes in.
    const qsizetype schemeEnd = text.indexOf(QStringLiteral("://"));
    if (schemeEnd > 0)
        text = text.left(schemeEnd).toLower() + text.mid(schemeEnd);
    core::Url url;
    if (!core::parseUrl(text.toStdString(), url))
        return false;
    return url.scheme == core::SchemeLocal || core::downloadScheme(url.scheme) != url.scheme;
}

OutsidePieces splitOutsidePieces(const QStringList &pieces)
{
    OutsidePieces split;
    for (const QString &piece : pieces)
        (sendsLocalFiles(piece) ? split.uploads : split.downloads) << piece;
    return split;
}

} // namespace bw::widgets
