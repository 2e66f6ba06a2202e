// SPDX-License-Identifier: MIT
// The remote browser's transfer queue: the order transfers run in, what a refused or finished one
// removes, and Abort reaching the waiting ones too.
#include <QTest>

#include "browse/pending_transfers.h"

using namespace bw::browse;

class PendingTransfersTest : public QObject
{
    Q_OBJECT

private slots:

    void orderAndDrops_data()
    {
        QTest::addColumn<QStringList>("steps"); // a name pushes it; "-last" and "-first" drop
        QTest::addColumn<QStringList>("left"); // what is queued after the steps, running one first
        QTest::newRow("arrival order") << QStringList{"a", "b", "c"} << QStringList{"a", "b", "c"};
        QTest::newRow("refused is the last") << QStringList{"a", "b", "-last", "c"} << QStringList{"a", "c"};
        QTest::newRow("finished is the first")
            << QStringList{"a", "b", "-first", "c"} << QStringList{"b", "c"};
        QTest::newRow("all gone") << QStringList{"a", "-last"} << QStringList{};
    }

    void orderAndDrops()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, left);
        PendingTransfers transfers;
        for (const QString &step : steps) {
            if (step == "-last")
                transfers.dropLast();
            else if (step == "-first")
                transfers.dropFirst();
            else
                transfers.push(step, 1, true);
        }
        QStringList names;
        while (!transfers.isEmpty()) {
            names << transfers.first().name;
            transfers.dropFirst();
        }
        QCOMPARE(names, left);
    }

    void abortReachesEveryTransfer()
    {
        PendingTransfers transfers;
        const PendingTransfers::AbortFlag running = transfers.push("run.bin", 10, true, "/tmp/view");
        const PendingTransfers::AbortFlag waiting = transfers.push("wait.bin", 20, false);
        QCOMPARE(transfers.first().abort, running);
        QCOMPARE(transfers.first().viewPath, std::string("/tmp/view"));
        QVERIFY(!running->load() && !waiting->load());
        transfers.abortAll();
        QVERIFY(running->load() && waiting->load());
    }

    // What a quit hands to the queue: downloads to a local file, not View File, uploads or aborted ones.
    void unabortedDownloadsLeaveViewsUploadsAndAborts()
    {
        PendingTransfers transfers;
        transfers.push("view.bin", 1, true, "/tmp/view");
        transfers.push({"up.bin", 1, false, nullptr, {}, "/l/up.bin", "/"});
        transfers.push({"aborted.bin", 1, true, nullptr, {}, "/l/aborted.bin", "/"})->store(true);
        transfers.push({"kept.bin", 1, true, nullptr, {}, "/l/kept.bin", "/pub/"});
        const std::vector<PendingTransfers::Transfer> kept = transfers.unabortedDownloads();
        QCOMPARE(kept.size(), std::size_t(1));
        QCOMPARE(kept.front().localPath + kept.front().remoteFolder, std::string("/l/kept.bin/pub/"));
    }
};

QTEST_GUILESS_MAIN(PendingTransfersTest)
#include "pending_transfers_test.moc"
