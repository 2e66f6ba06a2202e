// SPDX-License-Identifier: MIT
// The rules the file panes share: row order, date texts, the listing cache and the drag texts.
#include <algorithm>

#include <QTest>

#include "browse/browse_prompts.h"
#include "browse/drag_text.h"
#include "browse/list_entry.h"

using namespace bw::browse;

class BrowseRulesTest : public QObject
{
    Q_OBJECT

private slots:

    void deleteQuestionNamesWhatGoes_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("question");
        QTest::newRow("one") << QStringList{"a.txt"} << "Delete \"a.txt\"?";
        QTest::newRow("three") << QStringList{"a", "b", "c"} << "Delete \"a\", \"b\", \"c\"?";
        QTest::newRow("five") << QStringList{"a", "b", "c", "d", "e"}
                              << "Delete \"a\", \"b\", \"c\" and 2 more?";
    }

    void deleteQuestionNamesWhatGoes()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, question);
        QCOMPARE(deleteQuestion(names), question);
    }

    void rowOrder()
    {
        std::vector<ListEntry> rows = {
            {"zeta.txt", false, 1, 1},
            {"Alpha", true, 1, 0},
            {":colon.txt", false, 1, 1},
            {"beta.TXT", false, 1, 1},
            {"..", true, 0, 0},
            {"alpha.txt", false, 1, 1},
            {"Zdir", true, 1, 0},
            {":cdir", true, 1, 0},
            {"bdir", true, 1, 0},
        };
        std::sort(rows.begin(), rows.end(), listEntryLess);
        QStringList names;
        for (const ListEntry &row : rows)
            names << QString::fromStdString(row.name);
        QCOMPARE(names,
            QStringList(
                {"..", ":cdir", "Alpha", "bdir", "Zdir", ":colon.txt", "alpha.txt", "beta.TXT", "zeta.txt"}));
    }

    void parentRowAmongLocalDirectories()
    {
        // In the local pane every row has group 0: ".." sorts by name among the folders.
        std::vector<ListEntry> rows = {
            {"b", true, 0, 0}, {"..", true, 0, 0}, {"!first", true, 0, 0}, {"a.txt", false, 0, 0}};
        std::sort(rows.begin(), rows.end(), listEntryLess);
        QCOMPARE(rows[0].name, std::string("!first"));
        QCOMPARE(rows[1].name, std::string(".."));
        QCOMPARE(rows[3].name, std::string("a.txt"));
    }

    void dates_data()
    {
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<QString>("text");
        QTest::newRow("afternoon") << 14 << 5 << "3/3/2001 2:05 PM";
        QTest::newRow("noon") << 12 << 0 << "3/3/2001 12:00 PM";
        QTest::newRow("midnight") << 0 << 0 << "3/3/2001 12:00 AM";
        QTest::newRow("after midnight") << 0 << 30 << "3/3/2001 12:30 AM";
        QTest::newRow("morning") << 11 << 59 << "3/3/2001 11:59 AM";
        QTest::newRow("last minute") << 23 << 59 << "3/3/2001 11:59 PM";
    }

    void dates()
    {
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(QString, text);
        QCOMPARE(dateText(2001, 3, 3, hour, minute), text);
    }

    void cacheLookupIsExactAndReplaces()
    {
        ListingCache cache;
        cache.store("/pub/", {{"a", "", false, 1}});
        cache.store("/Pub/", {{"b", "", false, 2}});
        QVERIFY(cache.find("/pub") == nullptr);
        QCOMPARE(cache.find("/pub/")->front().name, std::string("a"));
        QCOMPARE(cache.find("/Pub/")->front().name, std::string("b"));
        cache.store("/pub/", {{"c", "", true, 0}, {"d", "", false, 4}});
        QCOMPARE(cache.size(), std::size_t(2));
        QCOMPARE(cache.find("/pub/")->size(), std::size_t(2));
        cache.clear();
        QVERIFY(cache.find("/Pub/") == nullptr);
    }

    void remoteEntries()
    {
        const QString one = remoteDragEntry(7, "u", "p", "h", 2121, "/dir/", "a.txt");
        QCOMPARE(one, QStringLiteral("{7}ftp://u:p@h:2121/dir/a.txt"));
        const QString two = remoteDragEntry(7, "u", "p", "h", 21, "/", "mail@home.txt");
        QCOMPARE(two, QStringLiteral("{7}ftp://u:p@h:21/mail%40home.txt"));

        // Rows of a site browsed over TLS are downloaded over TLS in the same form.
        const struct
        {
            bw::core::UrlScheme site;
            const char *entry;
        } tlsCases[] = {
            {bw::core::SchemeFtpes, "{7}ftpes://u:p@h:21/a.txt"},
            {bw::core::SchemeFtps, "{7}ftps://u:p@h:21/a.txt"},
            {bw::core::SchemeFtpesUpload, "{7}ftpes://u:p@h:21/a.txt"},
            {bw::core::SchemeFtpUpload, "{7}ftp://u:p@h:21/a.txt"},
            {bw::core::SchemeNone, "{7}ftp://u:p@h:21/a.txt"},
            {bw::core::SchemeSftp, "{7}sftp://u:p@h:21/a.txt"},
            {bw::core::SchemeSftpUpload, "{7}sftp://u:p@h:21/a.txt"},
        };

        for (const auto &c : tlsCases)
            QCOMPARE(
                remoteDragEntry(7, "u", "p", "h", 21, "/", "a.txt", c.site), QString::fromLatin1(c.entry));
        const QString text = joinDragEntries({one, two});
        QCOMPARE(text.count(kDragSeparator), 1);
        QVERIFY(!text.endsWith(kDragSeparator));
        const QStringList parts = splitDragText(text);
        QCOMPARE(parts, QStringList({one, two}));
        QCOMPARE(remoteEntryName(parts[0]), std::string("a.txt"));
        QCOMPARE(remoteEntryName(parts[1]), std::string("mail@home.txt"));
        QCOMPARE(remoteEntryName(QStringLiteral("{7}ftp://u:p@h:21/dir/")), std::string());
        QCOMPARE(remoteEntryName(QStringLiteral("no slash")), std::string());
        QVERIFY(splitDragText(QString()).isEmpty());
    }

    void localEntries()
    {
        QCOMPARE(localDragEntry("/home/u/a b.txt"), QStringLiteral("file:///home/u/a b.txt"));
        QCOMPARE(localEntryPath(QStringLiteral("file:///home/u/a b.txt")), std::string("/home/u/a b.txt"));
        QCOMPARE(localEntryPath(QStringLiteral("/home/u/a.txt")), std::string());
        QCOMPARE(localEntryPath(QStringLiteral("ftp://h/a.txt")), std::string());
    }
};

QTEST_APPLESS_MAIN(BrowseRulesTest)
#include "browse_rules_test.moc"
