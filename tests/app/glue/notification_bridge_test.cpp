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

    void routesEachEventToItsSignalInOrder()
    {
        Wiring w;
        const std::int32_t id = w.queue.addItem("ftp://h/a.zip", "/tmp/a.zip");
        NotificationBridge bridge(w.events);
        QStringList seen;
        connect(
            &bridge, &NotificationBridge::logLine, this, [&](unsigned message, quint64, const QString &text) {
                seen << QStringLiteral("log %1 %2").arg(message).arg(text);
            });
        connect(&bridge, &NotificationBridge::queueChanged, this,
            [&](bool save, qint64 itemId) { seen << QStringLiteral("queue %1 %2").arg(save).arg(itemId); });
        connect(&bridge, &NotificationBridge::itemChanged, this, [&](const core::ItemChangedEvent &event) {
            seen << QStringLiteral("item %1 %2 %3")
                        .arg(event.itemId)
                        .arg(event.mustSave)
                        .arg(QString::fromStdString(event.item->url));
        });
        connect(&bridge, &NotificationBridge::progress, this, [&](const core::ProgressEvent &event) {
            seen << QStringLiteral("progress %1 %2").arg(event.itemId).arg(event.item->bytesDone);
        });
        w.events.notify(core::kWmLogSent, 1, 0, "RETR \xc3\xa9t\xc3\xa9.zip"); // crosses as UTF-8
        w.queue.notifyLogReceived("150 Opening");
        w.queue.notifyLogStatus("Receiving");
        w.queue.setProgress(id, 50, 100);
        w.queue.notifyQueueChanged(true, id);
        w.queue.notifyQueueChanged(false, 0);
        w.events.notify(core::kWmUser + 99, 1, id, "unknown number: dropped");
        const QStringList expected{QStringLiteral("log 1040 RETR \u00e9t\u00e9.zip"),
            QStringLiteral("log 1041 150 Opening"), QStringLiteral("log 1042 Receiving"),
            QStringLiteral("progress %1 50").arg(id), QStringLiteral("item %1 1 ftp://h/a.zip").arg(id),
            QStringLiteral("queue 0 0")};
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), expected.size(), 5000);
        QCOMPARE(seen, expected);
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

    // At shutdown the bridge closes and goes while workers still post: what waited is dropped, nothing
    // reaches the window or the gone bridge, and the workers are not held up.
    void closedBridgeDropsAndWorkersGoOn()
    {
        Wiring w;
        const std::int32_t id = w.queue.addItem("ftp://h/a.zip", "/tmp/a.zip");
        auto bridge = std::make_unique<NotificationBridge>(w.events);
        QSignalSpy lines(bridge.get(), &NotificationBridge::logLine);
        QSignalSpy changes(bridge.get(), &NotificationBridge::itemChanged);
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
        w.queue.notifyQueueChanged(true, id);
        bridge->close();
        QVERIFY(bridge->isClosed());
        const int linesAtClose = lines.count();
        QCoreApplication::sendPostedEvents();
        bridge->drain();
        QCOMPARE(lines.count(), linesAtClose);
        QCOMPARE(changes.count(), 0);
        bridge.reset();
        const int before = posted.load();
        QTRY_VERIFY_WITH_TIMEOUT(posted.load() > before + 1000, 10000);
        stop = true;
        for (auto &worker : workers)
            worker.join();
    }
};

QTEST_MAIN(NotificationBridgeTest)
#include "notification_bridge_test.moc"
