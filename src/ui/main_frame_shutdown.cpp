// SPDX-License-Identifier: MIT
// The main window's close sequence: stop the timers and the queue's events, ask the engine to stop, save
// the queue, wait for the scheduler thread to end and save again. No worker waits for this thread, so the
// wait serves nothing.
#include <QApplication>
#include <QCloseEvent>
#include <QTimer>

#include "browse/local_view.h"
#include "core/queue_events.h"
#include "engine/engine.h"
#include "ui/main_frame.h"
#include "ui/queue_document.h"
#include "ui/queue_view.h"
#include "widgets/remote_browser_link.h"

namespace bw::ui {

namespace {

// One round of the wait for the engine.
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
    // What is still queued is about a window that is going: dropped, and so is all that follows.
    if (m_context.events)
        m_context.events->close();
    engine::Engine &engine = m_context.engine;
    if (engine.isRunning()) {
        if (m_remote && m_remote->isConnected())
            m_remote->disconnect(false);
        engine.stop();
    }
    m_context.document.save();

    // Clicks and keys wait in the window system's queue meanwhile: no command starts while the window goes.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    do {
        emit shutdownWaiting();
    } while (!engine.waitUntilStoppedFor(kEngineWaitMs));
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
