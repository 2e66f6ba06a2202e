// SPDX-License-Identifier: MIT
// Finding URLs in copied and dropped text: free text, lists of lines, the panes' separated drag text,
// and the formats web browsers drop links in.
#include <QMimeData>
#include <QtTest>

#include "widgets/url_text.h"

using namespace bw::widgets;

class UrlTextTest : public QObject
{
    Q_OBJECT

private slots:

    void findsUrlsInFreeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("one url") << "ftp://host.example/a.zip" << QStringList{"ftp://host.example/a.zip"};
        QTest::newRow("in a sentence") << "Get it from http://h.example/f.iso, or https://m.example/f.iso."
                                       << QStringList{"http://h.example/f.iso", "https://m.example/f.iso"};
        QTest::newRow("bracketed") << "(see ftp://h.example/pub/)" << QStringList{"ftp://h.example/pub/"};
        QTest::newRow("own brackets kept")
            << "http://w.example/wiki/A_(b) end" << QStringList{"http://w.example/wiki/A_(b)"};
        QTest::newRow("html attribute")
            << "<a href=\"https://h.example/x?y=1&z=2\">x</a>" << QStringList{"https://h.example/x?y=1&z=2"};
        QTest::newRow("upper case scheme") << "FTPS://H.example/a" << QStringList{"FTPS://H.example/a"};
        QTest::newRow("each once") << "ftp://a.example/x ftp://a.example/x"
                                   << QStringList{"ftp://a.example/x"};
        QTest::newRow("inside a word") << "xsftp://h.example/a xhttp://h.example/b" << QStringList{};
        QTest::newRow("other schemes")
            << "mailto:a@b.example file:///etc/passwd gopher://g.example/" << QStringList{};
        QTest::newRow("bare scheme") << "http:// and ftp://" << QStringList{};
        QTest::newRow("lines") << "ftp://a.example/1\r\nftp://b.example/2\n"
                               << QStringList{"ftp://a.example/1", "ftp://b.example/2"};
    }

    void findsUrlsInFreeText()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, urls);
        QCOMPARE(findUrls(text), urls);
    }

    void acceptsEveryTransferScheme_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("accepted");
        const char *accepted[] = {"ftp://h.example/a", "ftps://h.example/a", "ftpes://h.example/a",
            "ftpu://h.example/a", "ftpsu://h.example/a", "ftpesu://h.example/a", "http://h.example/a",
            "https://h.example/a", "FTPES://H.example/a", "sftp://h.example/a", "sftpu://h.example/a"};
        for (const char *url : accepted)
            QTest::newRow(url) << QString::fromLatin1(url) << true;
        const char *refused[] = {"sftps://h.example/a", "ftpe://h.example/a", "ftpsx://h.example/a",
            "file:///etc/passwd", "httpsu://h.example/a", "sftpesu://h.example/a"};
        for (const char *url : refused)
            QTest::newRow(url) << QString::fromLatin1(url) << false;
    }

    // The clipboard, drops, Ctrl+V and Add URL all take what these two accept.
    void acceptsEveryTransferScheme()
    {
        QFETCH(QString, url);
        QFETCH(bool, accepted);
        QCOMPARE(hasTransferScheme(url), accepted);
        QCOMPARE(findUrls(QStringLiteral("get ") + url + QStringLiteral(" now")),
            accepted ? QStringList{url} : QStringList{});
    }

    void tellsUploadsFromDownloads_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<bool>("upload");
        for (const char *piece : {"ftpu://h.example/.ssh", "FTPSU://h.example/a", " ftpesu://h.example/a ",
                 "{7}ftpu://h.example/a", "file:///home/u/.ssh", "local:///home/u/a"})
            QTest::newRow(piece) << QString::fromLatin1(piece) << true;
        for (const char *piece : {"ftp://h.example/a", "ftps://h.example/a", "https://h.example/a",
                 "{7}ftp://h.example/a", "not a url", ""})
            QTest::newRow(piece) << QString::fromLatin1(piece) << false;
    }

    void tellsUploadsFromDownloads()
    {
        QFETCH(QString, piece);
        QFETCH(bool, upload);
        QCOMPARE(sendsLocalFiles(piece), upload);
        const OutsidePieces split = splitOutsidePieces({piece});
        QCOMPARE(split.uploads.size(), upload ? 1 : 0);
        QCOMPARE(split.downloads.size(), upload ? 0 : 1);
    }

    void splitsTextIntoPieces_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("pieces");
        const QString sep(kUrlListSeparator);
        QTest::newRow("one") << " ftp://a.example/x " << QStringList{"ftp://a.example/x"};
        QTest::newRow("lines, blanks left out") << "ftp://a.example/1\n\n  http://b.example/2  \r\n"
                                                << QStringList{"ftp://a.example/1", "http://b.example/2"};
        QTest::newRow("separated keeps empty pieces") << "ftp://a.example/1" + sep + sep
                + "ftp://b.example/2" << QStringList{"ftp://a.example/1", "", "ftp://b.example/2"};
        QTest::newRow("empty") << "" << QStringList{};
    }

    void splitsTextIntoPieces()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, pieces);
        QCOMPARE(urlPieces(text), pieces);
    }

    void readsBrowserDropFormats()
    {
        QMimeData uriList;
        uriList.setData(QStringLiteral("text/uri-list"),
            "# a comment\r\nhttp://h.example/a.iso\r\nftp://h.example/b.iso\r\n");
        uriList.setText(QStringLiteral("ignored when links are there"));
        QCOMPARE(urlsFromMimeData(uriList), (QStringList{"http://h.example/a.iso", "ftp://h.example/b.iso"}));

        // Firefox: UTF-16, each URL followed by its title line (which may be empty).
        const QString moz = QStringLiteral("https://h.example/c.tar\nC archive\nftp://h.example/d\n\n");
        QMimeData mozUrl;
        mozUrl.setData(QStringLiteral("text/x-moz-url"),
            QByteArray(reinterpret_cast<const char *>(moz.utf16()), moz.size() * 2));
        QCOMPARE(urlsFromMimeData(mozUrl), (QStringList{"https://h.example/c.tar", "ftp://h.example/d"}));

        QMimeData plain;
        plain.setText(QStringLiteral("ftp://h.example/e\nftp://h.example/f"));
        QCOMPARE(urlsFromMimeData(plain), (QStringList{"ftp://h.example/e", "ftp://h.example/f"}));

        QMimeData nothing;
        QVERIFY(urlsFromMimeData(nothing).isEmpty());
    }
};

QTEST_MAIN(UrlTextTest)
#include "url_text_test.moc"
