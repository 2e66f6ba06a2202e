// SPDX-License-Identifier: MIT
#include "app/glue/notification_bridge.h"

#include <QCoreApplication>
#include <QThread>

namespace bw::app {

NotificationBridge::NotificationBridge(QObject *parent)
    : QObject(parent)
{}

NotificationBridge::~NotificationBridge()
{
    close();
    // A sender that got in before the close waits in the event queue: serve it so it can go on.
    while (m_inFlight.load() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::yieldCurrentThread();
    }
}

void NotificationBridge::notify(
    unsigned message, std::uint64_t wParam, std::int64_t itemId, const std::string &text)
{
    // Count first, then look at the flag: the destructor sets the flag first, then waits for the count.
    m_inFlight.fetch_add(1);
    if (!m_closed.load()) {
        const QString copy = QString::fromStdString(text); // the text is valid only during the call
        if (QThread::currentThread() == thread())
            deliver(message, wParam, itemId, copy);
        else
            QMetaObject::invokeMethod(
                this, [this, message, wParam, itemId, copy] { deliver(message, wParam, itemId, copy); },
                Qt::BlockingQueuedConnection);
    }
    m_inFlight.fetch_sub(1);
}

void NotificationBridge::close()
{
    m_closed.store(true);
}

void NotificationBridge::deliver(unsigned message, quint64 wParam, qint64 itemId, const QString &text)
{
    if (m_closed.load())
        return;
    switch (message) {
    case core::kWmLogSent:
    case core::kWmLogReceived:
    case core::kWmLogStatus:
        emit logLine(message, wParam, text);
        break;
    case core::kWmQueueChanged:
        emit queueChanged(wParam != 0, itemId);
        break;
    default:
        break;
    }
}

} // namespace bw::app
