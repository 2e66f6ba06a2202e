// SPDX-License-Identifier: MIT
#include <atomic>
#include <memory>
#include <thread>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include "app/glue/notification_bridge.h"
#include "core/queue_events.h"
#include "core/queue_list.h"

using bw::app::NotificationBridge;
namespace core = bw::core;

// A queue with its events, as the window program wires them.
struct Wiring
{
    core::QueueList queue;
    core::QueueEvents events{queue};

    Wiring() { queue.setNotifier(&events); }

    ~Wiring() { queue.setNotifier(nullptr); }
};

class NotificationBridgeTest : public QObject
{
    Q_OBJECT

private slots:

    void workerReturnsBeforeTheWindowHandled()
    {
        Wiring w;
        NotificationBridge bridge(w.events);
        std::atomic<bool> senderReturned{false};
        bool handledOnWindowThread = false;
        bool senderWasBack = false;
        QString received;
        quint64 receivedThread = 0;
        connect(&bridge, &NotificationBridge::logLine, this,
            [&](unsigned message, quint64 threadId, const QString &text) {
                QCOMPARE(message, core::kWmLogStatus);
                handledOnWindowThread = QThread::currentThread() == thread();
                senderWasBack = senderReturned.load();
                received = text;
                receivedThread = threadId;
            });
        // Nobody serves the window's events while the worker runs: it must come back all the same.
        std::thread worker([&] {
            w.events.notify(core::kWmLogStatus, 4242, 0, "Receiving a.zip at /tmp/a.zip...");
            senderReturned = true;
        });
        worker.join();
        QVERIFY(senderReturned.load());
        QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty(), 10000);
        QVERIFY(handledOnWindowThread);
        QVERIFY(senderWasBack);
        QCOMPARE(received, QStringLiteral("Receiving a.zip at /tmp/a.zip..."));
        QCOMPARE(receivedThread, quint64(4242));
    }

    void routesEachEventToItsSignal_data()
    {
        QTest::addColumn<int>("kind"); // 0-2 log kinds, 3 item changed, 4 queue changed, 5 progress
        QTest::addColumn<int>("logLines");
        QTest::addColumn<int>("queueChanges");
        QTest::addColumn<int>("itemChanges");
        QTest::addColumn<int>("progress");
        QTest::newRow("sent") << 0 << 1 << 0 << 0 << 0;
        QTest::newRow("received") << 1 << 1 << 0 << 0 << 0;
        QTest::newRow("status") << 2 << 1 << 0 << 0 << 0;
        QTest::newRow("item changed") << 3 << 0 << 0 << 1 << 0;
        QTest::newRow("queue changed") << 4 << 0 << 1 << 0 << 0;
        QTest::newRow("progress") << 5 << 0 << 0 << 0 << 1;
    }

    void routesEachEventToItsSignal()
    {
        QFETCH(int, kind);
        QFETCH(int, logLines);
        QFETCH(int, queueChanges);
        QFETCH(int, itemChanges);
        QFETCH(int, progress);
        Wiring w;
        const std::int32_t id = w.queue.addItem("ftp://h/a.zip", "/tmp/a.zip");
        NotificationBridge bridge(w.events);
        QSignalSpy lines(&bridge, &NotificationBridge::logLine);
        QSignalSpy changes(&bridge, &NotificationBridge::queueChanged);
        QSignalSpy items(&bridge, &NotificationBridge::itemChanged);
        QSignalSpy moves(&bridge, &NotificationBridge::progress);
        const unsigned logMessages[] = {core::kWmLogSent, core::kWmLogReceived, core::kWmLogStatus};
        if (kind < 3)
            w.events.notify(logMessages[kind], 1, 0, "RETR a.zip");
        else if (kind == 3)
            w.queue.notifyQueueChanged(true, id);
        else if (kind == 4)
            w.queue.notifyQueueChanged(true, 0);
        else
            w.queue.setProgress(id, 50, 100);
        w.events.notify(core::kWmUser + 99, 1, id, "unknown number: dropped");
        QTRY_COMPARE_WITH_TIMEOUT(lines.count() + changes.count() + items.count() + moves.count(), 1, 5000);
        QCOMPARE(lines.count(), logLines);
        QCOMPARE(changes.count(), queueChanges);
        QCOMPARE(items.count(), itemChanges);
        QCOMPARE(moves.count(), progress);
        if (logLines) {
            QCOMPARE(lines.at(0).at(0).toUInt(), logMessages[kind]);
            QCOMPARE(lines.at(0).at(2).toString(), QStringLiteral("RETR a.zip"));
        }
        if (queueChanges)
            QCOMPARE(changes.at(0).at(0).toBool(), true);
        if (itemChanges) {
            const auto change = items.at(0).at(0).value<core::ItemChangedEvent>();
            QCOMPARE(change.itemId, id);
            QVERIFY(change.mustSave);
            QCOMPARE(change.item->url, std::string("ftp://h/a.zip"));
        }
        if (progress)
            QCOMPARE(moves.at(0).at(0).value<core::ProgressEvent>().item->bytesDone, std::int64_t(50));
    }

    void textCrossesAsUtf8()
    {
        Wiring w;
        NotificationBridge bridge(w.events);
        QSignalSpy lines(&bridge, &NotificationBridge::logLine);
        w.queue.notifyLogReceived("150 Opening \xc3\xa9t\xc3\xa9.txt");
        QTRY_COMPARE_WITH_TIMEOUT(lines.count(), 1, 5000);
        QCOMPARE(lines.at(0).at(2).toString(), QStringLiteral("150 Opening \u00e9t\u00e9.txt"));
    }

    // A worker reports progress as fast as it can: the window sees it no more than about ten times a
    // second, and the last report arrives.
    void progressReachesTheWindowAtMostTenTimesASecond()
    {
        Wiring w;
        const std::int32_t id = w.queue.addItem("ftp://h/a.zip", "/tmp/a.zip");
        NotificationBridge bridge(w.events);
        QList<qint64> arrivals;
        std::int64_t lastShown = 0;
        QElapsedTimer clock;
        clock.start();
        connect(&bridge, &NotificationBridge::progress, this, [&](const core::ProgressEvent &event) {
            arrivals.append(clock.elapsed());
            lastShown = event.item->bytesDone;
        });
        std::atomic<bool> enough{false};
        std::atomic<std::int64_t> lastPosted{0};
        std::thread worker([&] {
            for (std::int64_t done = 1; !enough.load(); ++done) {
                w.queue.setProgress(id, done, 1'000'000'000);
                lastPosted = done;
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(arrivals.size() >= 4, 10000);
        enough = true;
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(lastShown, lastPosted.load(), 5000);
        // Drains start kDrainIntervalMs apart; a report may wait for the flooding worker's lock, so one
        // interval of slack.
        const qint64 span = arrivals.last() - arrivals.first();
        QVERIFY2(span >= (arrivals.size() - 2) * NotificationBridge::kDrainIntervalMs,
            qPrintable(QStringLiteral("%1 reports in %2 ms").arg(arrivals.size()).arg(span)));
    }

    void closedBridgeDropsWithoutBlocking()
    {
        Wiring w;
        NotificationBridge bridge(w.events);
        QSignalSpy changes(&bridge, &NotificationBridge::itemChanged);
        const std::int32_t id = w.queue.addItem("ftp://h/a.zip", "/tmp/a.zip");
        w.queue.notifyQueueChanged(true, id); // queued before the close: dropped with it
        bridge.close();
        QVERIFY(bridge.isClosed());
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                w.queue.notifyQueueChanged(true, id);
        });
        worker.join();
        QCoreApplication::sendPostedEvents();
        bridge.drain();
        QCOMPARE(changes.count(), 0);
    }

    // The window goes while workers still post: they go on without it, and nothing reaches the gone
    // bridge.
    void bridgeGoesWhileWorkersPost()
    {
        Wiring w;
        auto bridge = std::make_unique<NotificationBridge>(w.events);
        QSignalSpy lines(bridge.get(), &NotificationBridge::logLine);
        std::atomic<bool> stop{false};
        std::atomic<int> posted{0};
        std::vector<std::thread> workers;
        for (int i = 0; i < 4; ++i) {
            workers.emplace_back([&] {
                while (!stop.load()) {
                    w.queue.notifyLogStatus("Connecting...");
                    posted.fetch_add(1);
                }
            });
        }
        QTRY_VERIFY_WITH_TIMEOUT(lines.count() >= 10, 10000);
        bridge->close();
        bridge.reset();
        const int before = posted.load();
        QTRY_VERIFY_WITH_TIMEOUT(posted.load() > before + 1000, 10000); // the workers are not held up
        stop = true;
        for (auto &worker : workers)
            worker.join();
        QCoreApplication::sendPostedEvents();
    }
};

QTEST_MAIN(NotificationBridgeTest)
#include "notification_bridge_test.moc"
