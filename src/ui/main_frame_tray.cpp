// SPDX-License-Identifier: MIT
// The main window's notification-area icon: load level, tooltip, menu, and moving between the tray
// and the normal window.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include "engine/engine.h"
#include "ui/desktop_notifier.h"
#include "ui/main_frame.h"
#include "widgets/app_icons.h"
#include "widgets/remote_browser_link.h"

namespace bw::ui {

using widgets::trayIcon;

void CMainFrame::createTray()
{
    if (m_trayIcon || !m_options.trayAvailable)
        return;
    // A picture from the start: shown without one, the panel gets an empty slot ("No Icon set").
    m_trayIcon = new QSystemTrayIcon(widgets::programIcon(), this);
    m_trayIcon->setObjectName(QStringLiteral("trayIcon"));
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    QAction *restore = action(QStringLiteral("systemTray"));
    m_trayMenu->addAction(restore);
    m_trayMenu->setDefaultAction(restore);
    m_trayMenu->addAction(action(QStringLiteral("addUrl")));
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(action(QStringLiteral("go")));
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(action(QStringLiteral("options")));
    m_trayMenu->addAction(action(QStringLiteral("path")));
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(action(QStringLiteral("exit")));
    connect(m_trayMenu, &QMenu::aboutToShow, this, [this] {
        updateCommandStates();
        raise();
    });
    connect(m_trayMenu, &QMenu::aboutToHide, this, &CMainFrame::updateTrayIcon);
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &CMainFrame::onTrayActivated);
    if (m_notifier)
        m_notifier->setTrayIcon(m_trayIcon);
}

void CMainFrame::showTrayIcon(bool visible)
{
    if (visible)
        createTray();
    if (m_trayIcon)
        m_trayIcon->setVisible(visible);
}

TrayStatus CMainFrame::currentTrayStatus() const
{
    const engine::Scheduler &scheduler = m_context.engine.scheduler();
    return trayStatus(scheduler.isRunning(), scheduler.busyCount(), scheduler.jobCount(),
        scheduler.maxThreads(), m_remote && m_remote->isConnected());
}

void CMainFrame::updateTrayIcon()
{
    if (!m_inTray || !m_trayIcon)
        return;
    const TrayStatus status = currentTrayStatus();
    m_trayIcon->setIcon(trayIcon(status.image));
    m_trayIcon->setToolTip(status.toolTip);
}

void CMainFrame::toggleTray()
{
    if (m_inTray) {
        restoreFromTray();
        activateWindow();
        raise();
    } else {
        if (!m_options.trayAvailable)
            return; // a hidden window without a tray icon could never be brought back
        m_inTray = true;
        showTrayIcon(true);
        hide();
    }
    updateTrayIcon();
    updateCommandStates();
}

void CMainFrame::restoreFromTray()
{
    m_inTray = false;
    showNormal();
    showTrayIcon(false);
}

void CMainFrame::onManualHandover(std::int32_t itemId)
{
    Q_UNUSED(itemId);
    if (m_inTray) {
        restoreFromTray();
        updateCommandStates();
    } else {
        QApplication::alert(this);
    }
}

void CMainFrame::onTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    // StatusNotifier trays report a left click only as Trigger; the old trays report Trigger for the
    // first click of a double click too, so toggling on Trigger alone serves both without toggling twice.
    if (reason == QSystemTrayIcon::Trigger)
        toggleTray();
}

} // namespace bw::ui
