// SPDX-License-Identifier: MIT
// URLs reaching the queue from outside: links dropped by web browsers, several lines of URLs, Ctrl+V,
// and one message that lists every piece that is not a URL.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QtTest>

#include "ui/queue_view.h"
#include "widgets/internal_drag_data.h"
#include "widgets/tiled_list_ctrl.h"
#include "window_fixture.h"

using namespace bw;
using namespace bw::ui;

namespace {

struct InputBundle
{
    test::EngineBundle engine;
    CFtpTreeView view{engine.queue, engine.scheduler, engine.document};
    QStringList errors;
    QList<QStringList> askedUploads;
    bool uploadsConfirmed = false;

    InputBundle()
    {
        UserPrompts prompts = UserPrompts::modalDialogs();
        prompts.showError = [this](QWidget *, const QString &text, const QString &) {
            errors << text;
        };
        prompts.confirmUploads = [this](QWidget *, const QStringList &uploads) {
            askedUploads << uploads;
            return uploadsConfirmed;
        };
        view.setPrompts(prompts);
    }

    std::vector<std::string> urls() const
    {
        std::vector<std::string> result;
        for (const std::int32_t id : engine.queue.ids())
            result.push_back(core::snapshotOrVanished(engine.queue, id).url);
        return result;
    }

    void drop(QMimeData &data)
    {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &drop);
    }
};

using Urls = std::vector<std::string>;

// Counts the saves the view asks for.
class CountingDocument : public QueueDocument
{
public:
    bool openDocument(const QString &) override { return true; }

    bool save() override
    {
        ++saves;
        return true;
    }

    QString filePath() const override { return {}; }

    int saves = 0;
};

} // namespace

class QueueInputTest : public QObject
{
    Q_OBJECT

private slots:

    void browserLinkDropsAreQueued()
    {
        InputBundle b;
        QMimeData links;
        links.setUrls(
            {QUrl(QStringLiteral("http://h.example/a.iso")), QUrl(QStringLiteral("ftp://h.example/b"))});
        b.drop(links);
        QCOMPARE(b.urls(), (Urls{"http://h.example/a.iso", "ftp://h.example/b"}));

        const QString moz = QStringLiteral("ftp://h.example/c.zip\nC\n");
        QMimeData mozUrl;
        mozUrl.setData(QStringLiteral("text/x-moz-url"),
            QByteArray(reinterpret_cast<const char *>(moz.utf16()), moz.size() * 2));
        b.drop(mozUrl);
        QCOMPARE(b.urls().back(), std::string("ftp://h.example/c.zip"));
        QVERIFY(b.errors.isEmpty());
    }

    void linesOfUrlsGiveOneMessageForTheBadOnes()
    {
        InputBundle b;
        QMimeData lines;
        lines.setText(QStringLiteral("ftp://h.example/1\nnot a url\n\nhttp://h.example/2\nalso bad\n"));
        b.drop(lines);
        QCOMPARE(b.urls(), (Urls{"ftp://h.example/1", "http://h.example/2"}));
        QCOMPARE(b.errors.size(), 1);
        QVERIFY(b.errors.first().startsWith(QStringLiteral("URL parsing error")));
        QVERIFY(b.errors.first().contains(QStringLiteral("not a url")));
        QVERIFY(b.errors.first().contains(QStringLiteral("also bad")));
    }

    void manyUrlsAreSavedOnceAndNamedByTheConversion()
    {
        test::EngineBundle engine;
        CountingDocument document;
        CFtpTreeView view(engine.queue, engine.scheduler, document);
        QStringList lines;
        for (int i = 0; i < 500; ++i)
            lines << QStringLiteral("ftp://h.example/dir/File%1.Zip").arg(i);
        QCOMPARE(view.addUrls(lines, true).size(), 500);
        QCOMPARE(document.saves, 1);
        QCOMPARE(view.addUrls({QStringLiteral("ftp://h.example/x")}, false).size(), 1);
        QCOMPARE(document.saves, 1);

        view.setFileNameConversion(engine::FileNameConversion::Lowercase);
        const std::int32_t id = view.addUrl(QStringLiteral("http://h.example/Dir/Movie.MKV"), true);
        QVERIFY(id != 0);
        const std::string localPath = core::snapshotOrVanished(engine.queue, id).localPath;
        QVERIFY2(localPath.ends_with("/movie.mkv"), localPath.c_str());
        QCOMPARE(document.saves, 2);
    }

    void aLargeDropIsAddedInBatchesBetweenEvents()
    {
        test::EngineBundle engine;
        CountingDocument document;
        CFtpTreeView view(engine.queue, engine.scheduler, document);
        QStringList errors;
        UserPrompts prompts = UserPrompts::modalDialogs();
        prompts.showError = [&errors](QWidget *, const QString &text, const QString &) {
            errors << text;
        };
        view.setPrompts(prompts);
        const int count = 2 * CFtpTreeView::kUrlBatch + 5;
        QStringList lines;
        for (int i = 0; i < count; ++i)
            lines << (i == 3000 ? QStringLiteral("not a url") : QStringLiteral("ftp://h.example/f%1").arg(i));
        view.dropText(lines.join(QChar(8)));
        // The first batch is in; the window gets its events before the next.
        QVERIFY(view.isAddingUrls());
        QCOMPARE(engine.queue.ids().size(), std::size_t(CFtpTreeView::kUrlBatch));
        QCOMPARE(document.saves, 1);
        // A drop meanwhile joins the end of the line.
        view.dropText(QStringLiteral("ftp://h.example/last"));
        QTRY_VERIFY_WITH_TIMEOUT(!view.isAddingUrls(), 20000);
        const std::vector<std::int32_t> ids = engine.queue.ids();
        QCOMPARE(ids.size(), std::size_t(count)); // all but the bad piece, and the late one
        QCOMPARE(core::snapshotOrVanished(engine.queue, ids.front()).url, std::string("ftp://h.example/f0"));
        QCOMPARE(core::snapshotOrVanished(engine.queue, ids[3000]).url, std::string("ftp://h.example/f3001"));
        QCOMPARE(core::snapshotOrVanished(engine.queue, ids.back()).url, std::string("ftp://h.example/last"));
        QCOMPARE(document.saves, 3); // after each of the three batches
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains(QStringLiteral("not a url")));
    }

    void ctrlVAddsTheClipboardUrls()
    {
        InputBundle b;
        b.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b.view));
        QGuiApplication::clipboard()->setText(QStringLiteral("ftp://h.example/p1\r\nftp://h.example/p2"));
        TiledListCtrl *list = b.view.list(QueueTab::Queue);
        list->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(list->hasFocus() || b.view.isActiveWindow(), 5000);
        QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(b.urls().size(), std::size_t(2), 5000);
        QCOMPARE(b.urls(), (Urls{"ftp://h.example/p1", "ftp://h.example/p2"}));
    }

    // A copied or dropped "ftpu://host/.ssh" would send the user's ~/.ssh: text from outside queues
    // downloads as it comes, and an upload only after the user's yes. The panes' own rows may upload.
    void outsideUploadsWaitForTheUsersYes_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("confirmed");
        for (const char *source : {"paste", "drop", "own drag"}) {
            QTest::addRow("%s, yes", source) << QString::fromLatin1(source) << true;
            QTest::addRow("%s, no", source) << QString::fromLatin1(source) << false;
        }
    }

    void outsideUploadsWaitForTheUsersYes()
    {
        QFETCH(QString, source);
        QFETCH(bool, confirmed);
        InputBundle b;
        b.uploadsConfirmed = confirmed;
        const QString text =
            QStringLiteral("ftp://h.example/get.iso\nftpu://h.example/.ssh\nfile:///home/u/x");
        if (source == QLatin1String("paste")) {
            QGuiApplication::clipboard()->setText(text);
            b.view.pasteUrls();
        } else if (source == QLatin1String("drop")) {
            QMimeData data;
            data.setText(text);
            b.drop(data);
        } else {
            widgets::InternalDragData data(text, QString());
            b.drop(data);
        }
        const bool own = source == QLatin1String("own drag");
        const QStringList uploads{
            QStringLiteral("ftpu://h.example/.ssh"), QStringLiteral("file:///home/u/x")};
        QTRY_COMPARE_WITH_TIMEOUT(
            b.askedUploads, own ? QList<QStringList>{} : QList<QStringList>{uploads}, 5000);
        const Urls all{"ftp://h.example/get.iso", "ftpu://h.example/.ssh", "file:///home/u/x"};
        QTRY_COMPARE_WITH_TIMEOUT(b.urls(), (own || confirmed) ? all : Urls{all.front()}, 5000);
    }

    void retryCountDialogSaysWhatItEdits()
    {
        InputBundle b;
        const std::int32_t id =
            b.engine.queue.addItem("ftp://h.example/r", (b.engine.downloads() / "r").string());
        b.view.refreshItem(id);
        b.view.list(QueueTab::Queue)->selectRow(b.view.list(QueueTab::Queue)->findItemId(id));
        QString caption;
        UserPrompts prompts = UserPrompts::modalDialogs();
        prompts.askText = [&](QWidget *, const QString &shown, const QString &, const QString &) {
            caption = shown;
            return std::optional<QString>(QStringLiteral("3"));
        };
        b.view.setPrompts(prompts);
        b.view.editRetryCountLimit();
        QCOMPARE(caption, QStringLiteral("Edit Retry Count"));
        QCOMPARE(core::snapshotOrVanished(b.engine.queue, id).retryCount, 3);
    }
};

QTEST_MAIN(QueueInputTest)
#include "queue_input_test.moc"
