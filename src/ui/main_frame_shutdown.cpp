// SPDX-License-Identifier: MIT
// The main window's close sequence: stop the timers, ask the engine to stop, save the queue, and keep
// serving the workers' blocking notifications until the scheduler thread has ended.
#include <QApplication>
#include <QCloseEvent>
#include <QTimer>

#include "browse/local_view.h"
#include "engine/engine.h"
#include "ui/main_frame.h"
#include "ui/queue_document.h"
#include "ui/queue_view.h"
#include "widgets/remote_browser_link.h"

namespace bw::ui {

namespace {

// Longest stretch of event handling per round, and the wait for the engine between rounds.
constexpr int kDispatchLimitMs = 30000;
constexpr int kEngineWaitMs = 250;

} // namespace

void CMainFrame::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        event->ignore(); // the close sequence is already under way
        return;
    }
    runShutdown();
    event->accept();
    m_closed = true;
    emit closed();
}

void CMainFrame::runShutdown()
{
    m_refreshTimer->stop();
    m_autosaveTimer->stop();
    m_closing = true;
    engine::Engine &engine = m_context.engine;
    if (engine.isRunning()) {
        if (m_remote && m_remote->isConnected())
            m_remote->disconnect(false);
        engine.stop();
    }
    m_context.document.save();

    // Workers that are ending may be blocked in a notification to this thread: serve them while
    // waiting, so the scheduler can collect them.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool stopped = false;
    while (!stopped) {
        // Clicks and keys wait: no command may start while the window is going.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, kDispatchLimitMs);
        emit shutdownWaiting();
        stopped = engine.waitUntilStoppedFor(kEngineWaitMs);
    }
    // Items that ended while we waited are saved in their final state.
    m_context.document.save();

    if (m_localPane)
        m_localPane->clearRows();
    m_queueView->clear();
    QApplication::restoreOverrideCursor();
    if (m_inTray) {
        // Leave the tray without showing a window that is about to go.
        m_inTray = false;
        showTrayIcon(false);
    }
}

} // namespace bw::ui
