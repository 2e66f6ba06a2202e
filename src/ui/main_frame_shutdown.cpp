// SPDX-License-Identifier: MIT
// The main window's close sequence: stop the timers and the queue's events, ask the engine to stop, save
// the queue, wait for the scheduler thread to end and save again. No worker waits for this thread, so the
// wait serves nothing.
#include <optional>
#include <vector>

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QTimer>

#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "core/queue_events.h"
#include "core/queue_list.h"
#include "engine/engine.h"
#include "ui/main_frame.h"
#include "ui/queue_document.h"
#include "ui/queue_row.h"
#include "ui/queue_view.h"
#include "widgets/remote_browser_link.h"

namespace bw::ui {

namespace {

// One round of the wait for the engine.
constexpr int kEngineWaitMs = 250;

} // namespace

int CMainFrame::runningTransfers() const
{
    int running = 0;
    for (const core::ItemState &item : queue().states()) {
        // A connection waiting for the browser moves no file.
        if (core::isInProgressStatus(item.status) && static_cast<int>(item.status) != kStatusInactiveManual)
            ++running;
    }
    return running + (m_remotePane ? static_cast<int>(m_remotePane->transferCount()) : 0);
}

bool CMainFrame::mayQuit()
{
    const int running = runningTransfers();
    if (running == 0)
        return true;
    const QString text = running == 1
        ? tr("1 transfer is running. Quit anyway? It resumes next time.")
        : tr("%1 transfers are running. Quit anyway? They resume next time.").arg(running);
    if (m_askQuit)
        return m_askQuit(this, text);
    return QMessageBox::question(
               this, tr("Quit Bellwick"), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        event->ignore(); // the close sequence is already under way
        return;
    }
    // The window's close button asks; the Exit command asked before it closed the window.
    if (event->spontaneous() && !mayQuit()) {
        event->ignore();
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
    // The remote pane's downloads that the quit cuts short resume from the queue next time.
    std::optional<core::QueueItem> site;
    std::vector<browse::CManFtpView::InterruptedDownload> interrupted;
    if (engine.isRunning()) {
        site = m_remotePane ? queue().snapshot(m_remotePane->itemId()) : std::nullopt;
        if (site)
            interrupted = m_remotePane->keepInterruptedDownloads();
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
    // Queued once the engine stopped: no job may write a part file the manual transfer was still writing.
    for (const browse::CManFtpView::InterruptedDownload &download : interrupted) {
        queue().addItem(download.url, download.localPath, 0, site->retryTime, site->retryCount, site->timeout,
            site->passive ? 1 : 0);
    }
    // Items that ended while we waited are saved in their final state, with the downloads queued.
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
