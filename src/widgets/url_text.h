// SPDX-License-Identifier: MIT
// Finding transfer URLs in text from the clipboard, drops and the Add URL box: pure functions, any
// thread.
#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

namespace bw::widgets {

// The character the file panes put between the rows of a dragged text.
inline constexpr QChar kUrlListSeparator = QChar(8);

// Whether `text` starts with a scheme Bellwick queues from outside (any case): ftp, ftps, ftpes, http,
// https, and the upload forms ftpu, ftpsu and ftpesu.
bool hasTransferScheme(const QString &text);

// Every URL of those schemes inside free text, in order, each once. A URL ends at white space, a
// quote or an angle bracket; trailing sentence punctuation and an unmatched closing bracket are left
// out.
QStringList findUrls(const QString &text);

// The pieces of a text meant as a list of URLs. A text with the panes' separator is split at it, empty
// pieces included (each is a bad URL of its own); otherwise each non-blank line, trimmed, is a piece.
QStringList urlPieces(const QString &text);

// What a drop or a paste offers as URLs: the links of "text/uri-list" (comments left out) or
// "text/x-moz-url" (URL and title lines), else the pieces of the plain text.
QStringList urlsFromMimeData(const QMimeData &data);

// Whether a piece, as the queue would read it, sends files of this computer to a server: an upload form
// (ftpu, ftpsu, ...) or a local file, which the queue uploads while a server is browsed.
bool sendsLocalFiles(const QString &piece);

// Pieces from outside the program, split: downloads may be queued as they come; uploads only once the
// user has said yes.
struct OutsidePieces
{
    QStringList downloads;
    QStringList uploads;
};

OutsidePieces splitOutsidePieces(const QStringList &pieces);

} // namespace bw::widgets
