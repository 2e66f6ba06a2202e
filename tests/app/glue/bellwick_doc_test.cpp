// SPDX-License-Identifier: MIT
// The queue document: the default queue file, absolute paths that survive a change of the working
// directory, appending on open, and saves that fail without harm.
#include <filesystem>

#include <sys/stat.h>

#include <QSignalSpy>
#include <QtTest>

#include "app/glue/bellwick_doc.h"
#include "core/queue_list.h"
#include "engine/queue_file.h"
#include "support/temp_dir.h"

using namespace bw;
using namespace bw::app;

namespace {

QString qpath(const std::filesystem::path &path)
{
    return QString::fromStdString(path.string());
}

// Restores the working directory when the test ends.
struct WorkingDirectory
{
    std::filesystem::path saved = std::filesystem::current_path();

    ~WorkingDirectory() { std::filesystem::current_path(saved); }
};

} // namespace

class BellwickDocTest : public QObject
{
    Q_OBJECT

private slots:
    void defaultQueueFileIsCreatedEmptyAndPrivate();
    void relativePathStaysWhereItWasOpened();
    void openAppendsBehindCurrentItems();
    void failedSaveKeepsOldFile();
};

void BellwickDocTest::defaultQueueFileIsCreatedEmptyAndPrivate()
{
    test::TempDir dir;
    const QString path = CBellwickDoc::ensureDefaultQueueFile(qpath(dir.path()));
    QCOMPARE(path, qpath(dir / "filelist.ftp"));
    QCOMPARE(std::filesystem::file_size(dir / "filelist.ftp"), std::uintmax_t(0));

    struct stat info
    {};

    QCOMPARE(::stat((dir / "filelist.ftp").c_str(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);

    // An existing queue file is left exactly as it is, and an empty one loads as an empty queue.
    test::writeFile(dir / "filelist.ftp", std::string("\x01\0\0\0\0\0\0\0", 8));
    CBellwickDoc::ensureDefaultQueueFile(qpath(dir.path()));
    QCOMPARE(std::filesystem::file_size(dir / "filelist.ftp"), std::uintmax_t(8));
    test::writeFile(dir / "filelist.ftp", "");
    core::QueueList queue;
    CBellwickDoc document(queue);
    QVERIFY(document.openDocument(path));
    QCOMPARE(queue.count(), std::size_t(0));
}

void BellwickDocTest::relativePathStaysWhereItWasOpened()
{
    test::TempDir dir;
    std::filesystem::create_directories(dir / "start");
    std::filesystem::create_directories(dir / "elsewhere");
    WorkingDirectory restore;
    std::filesystem::current_path(dir / "start");

    core::QueueList queue;
    CBellwickDoc document(queue);
    QVERIFY(document.openDocument(QStringLiteral("queue.ftp")));
    QCOMPARE(document.filePath(), qpath(dir / "start" / "queue.ftp"));
    QVERIFY(!document.isModified());

    // The user browses another local folder: the queue is still saved where it was opened.
    std::filesystem::current_path(dir / "elsewhere");
    queue.addItem("ftp://host.example/a.bin", "/tmp/a.bin");
    QVERIFY(document.save());
    QVERIFY(std::filesystem::exists(dir / "start" / "queue.ftp"));
    QVERIFY(!std::filesystem::exists(dir / "elsewhere" / "queue.ftp"));
}

void BellwickDocTest::openAppendsBehindCurrentItems()
{
    test::TempDir dir;
    core::QueueList source;
    source.addItem("ftp://host.example/one.bin", "/tmp/one.bin");
    source.addItem("ftp://host.example/two.bin", "/tmp/two.bin");
    QVERIFY(engine::saveQueueFile(dir / "saved.ftp", source));

    core::QueueList queue;
    const std::int32_t first = queue.addItem("http://web.example/zero.txt", "/tmp/zero.txt");
    CBellwickDoc document(queue);
    QVERIFY(document.openDocument(qpath(dir / "saved.ftp")));
    const std::vector<std::int32_t> ids = queue.ids();
    QCOMPARE(ids.size(), std::size_t(3));
    QCOMPARE(ids[0], first);
    QCOMPARE(core::snapshotOrVanished(queue, ids[2]).url, std::string("ftp://host.example/two.bin"));
    QVERIFY(ids[1] > first && ids[2] > ids[1]);

    // A missing file still opens (the queue stays) and becomes the document's file.
    QVERIFY(document.openDocument(qpath(dir / "missing.ftp")));
    QCOMPARE(queue.count(), std::size_t(3));
    QCOMPARE(document.filePath(), qpath(dir / "missing.ftp"));
}

void BellwickDocTest::failedSaveKeepsOldFile()
{
    test::TempDir dir;
    core::QueueList queue;
    queue.addItem("ftp://host.example/one.bin", "/tmp/one.bin");
    CBellwickDoc document(queue);
    QVERIFY(document.saveDocument(qpath(dir / "queue.ftp")));
    const std::string before = test::readFile(dir / "queue.ftp");

    QSignalSpy failed(&document, &CBellwickDoc::saveFailed);
    QVERIFY(!document.saveDocument(qpath(dir / "no-such-folder" / "queue.ftp")));
    QCOMPARE(failed.count(), 1);
    // The document keeps its file after a failed save-as.
    QCOMPARE(document.filePath(), qpath(dir / "queue.ftp"));
    QCOMPARE(test::readFile(dir / "queue.ftp"), before);
}

QTEST_GUILESS_MAIN(BellwickDocTest)
#include "bellwick_doc_test.moc"
