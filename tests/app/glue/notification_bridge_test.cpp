// SPDX-License-Identifier: MIT
#include <atomic>
#include <thread>

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include "app/glue/notification_bridge.h"
#include "core/queue_notifier.h"
#include "support/wait_until.h"

using bw::app::NotificationBridge;
namespace core = bw::core;

class NotificationBridgeTest : public QObject
{
    Q_OBJECT

private slots:

    void workerBlocksUntilTheWindowHandled()
    {
        NotificationBridge bridge;
        std::atomic<bool> senderReturned{false};
        std::atomic<bool> handledOnWindowThread{false};
        std::atomic<bool> senderWaitedForHandler{false};
        QString received;
        quint64 receivedThread = 0;
        connect(&bridge, &NotificationBridge::logLine, this,
            [&](unsigned message, quint64 threadId, const QString &text) {
                QCOMPARE(message, core::kWmLogStatus);
                handledOnWindowThread = QThread::currentThread() == thread();
                senderWaitedForHandler = !senderReturned.load();
                received = text;
                receivedThread = threadId;
            });
        std::thread worker([&] {
            bridge.notify(core::kWmLogStatus, 4242, 0, "Receiving a.zip at /tmp/a.zip...");
            senderReturned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(senderReturned.load(), 10000);
        worker.join();
        QVERIFY(handledOnWindowThread.load());
        QVERIFY(senderWaitedForHandler.load());
        QCOMPARE(received, QStringLiteral("Receiving a.zip at /tmp/a.zip..."));
        QCOMPARE(receivedThread, quint64(4242));
    }

    void routesTheFourMessages_data()
    {
        QTest::addColumn<unsigned>("message");
        QTest::addColumn<int>("logLines");
        QTest::addColumn<int>("queueChanges");
        QTest::newRow("sent") << core::kWmLogSent << 1 << 0;
        QTest::newRow("received") << core::kWmLogReceived << 1 << 0;
        QTest::newRow("status") << core::kWmLogStatus << 1 << 0;
        QTest::newRow("queue changed") << core::kWmQueueChanged << 0 << 1;
        QTest::newRow("unknown number") << core::kWmUser + 99 << 0 << 0;
    }

    void routesTheFourMessages()
    {
        QFETCH(unsigned, message);
        QFETCH(int, logLines);
        QFETCH(int, queueChanges);
        NotificationBridge bridge;
        QSignalSpy lines(&bridge, &NotificationBridge::logLine);
        QSignalSpy changes(&bridge, &NotificationBridge::queueChanged);
        // On the window's thread the call is handled before it returns.
        bridge.notify(message, 1, 17, "RETR a.zip");
        QCOMPARE(lines.count(), logLines);
        QCOMPARE(changes.count(), queueChanges);
        if (queueChanges) {
            QCOMPARE(changes.at(0).at(0).toBool(), true);
            QCOMPARE(changes.at(0).at(1).toLongLong(), qint64(17));
        }
        if (logLines)
            QCOMPARE(lines.at(0).at(2).toString(), QStringLiteral("RETR a.zip"));
    }

    void textCrossesAsUtf8()
    {
        NotificationBridge bridge;
        QSignalSpy lines(&bridge, &NotificationBridge::logLine);
        bridge.notify(core::kWmLogReceived, 0, 0, "150 Opening \xc3\xa9t\xc3\xa9.txt");
        QCOMPARE(lines.at(0).at(2).toString(), QStringLiteral("150 Opening \u00e9t\u00e9.txt"));
    }

    void closedBridgeDropsWithoutBlocking()
    {
        NotificationBridge bridge;
        QSignalSpy changes(&bridge, &NotificationBridge::queueChanged);
        bridge.close();
        std::atomic<bool> done{false};
        // Nobody serves the window's events here: a closed bridge must not wait for them.
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                bridge.notify(core::kWmQueueChanged, 1, i, {});
            done = true;
        });
        worker.join();
        QVERIFY(done.load());
        QCoreApplication::processEvents();
        QCOMPARE(changes.count(), 0);
    }

    void shutdownServesSendersStillWaiting()
    {
        auto bridge = std::make_unique<NotificationBridge>();
        std::atomic<int> returned{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> workers;
        for (int i = 0; i < 4; ++i) {
            workers.emplace_back([&] {
                while (!go.load())
                    std::this_thread::yield();
                for (int n = 0; n < 50; ++n)
                    bridge->notify(core::kWmLogStatus, 7, 0, "Connecting...");
                returned.fetch_add(1);
            });
        }
        go = true;
        // Let some calls through, then stop serving and go away as the window does at exit.
        QSignalSpy lines(bridge.get(), &NotificationBridge::logLine);
        QTRY_VERIFY_WITH_TIMEOUT(lines.count() >= 10, 10000);
        bridge->close();
        // Senders already inside wait for the window's thread; the destructor must release them.
        // The senders still reach `bridge` after the close, so it may only go once they all returned.
        QTRY_COMPARE_WITH_TIMEOUT(returned.load(), 4, 10000);
        for (auto &worker : workers)
            worker.join();
        bridge.reset();
    }

    void destructorReleasesASenderInFlight()
    {
        auto bridge = std::make_unique<NotificationBridge>();
        NotificationBridge *target = bridge.get();
        std::atomic<bool> returned{false};
        std::thread worker([&] {
            target->notify(core::kWmLogSent, 3, 0, "QUIT");
            returned = true;
        });
        // Wait, without serving the window's events, until the sender is blocked inside its call.
        QVERIFY(bw::test::waitUntil([&] { return target->sendersInFlight() == 1; }));
        QVERIFY(!returned.load());
        bridge.reset(); // must not hang, and must let the sender come back
        worker.join();
        QVERIFY(returned.load());
    }
};

QTEST_MAIN(NotificationBridgeTest)
#include "notification_bridge_test.moc"
