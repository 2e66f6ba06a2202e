// SPDX-License-Identifier: MIT
// Tells the desktop (QSystemTrayIcon::showMessage, freedesktop notifications where available) when an
// item failed for good and when the queue has finished. Can be turned off ("Options/DesktopNotifications",
// on by default). GUI thread only.
#pragma once

#include <functional>

#include <QObject>
#include <QPointer>
#include <QString>

#include "ui/queue_notices.h"

class QSystemTrayIcon;

namespace bw::core {
class QueueList;
}

namespace bw::engine {
class SettingsStore;
}

namespace bw::ui {

class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *kSettingKey = "DesktopNotifications";
    using ShowMessage = std::function<void(const QString &title, const QString &text, bool warning)>;

    DesktopNotifier(core::QueueList &queue, engine::SettingsStore &settings, QObject *parent = nullptr);

    bool isEnabled() const { return m_enabled; }

    // Turns the notices on or off and remembers the choice.
    void setEnabled(bool on);

    // Replaces the desktop message (tests, or a window that has its own tray icon).
    void setShowMessage(ShowMessage show) { m_show = std::move(show); }

    // Looks at the queue and tells what is new; called with each full refresh of the window.
    void checkQueue();

    // The window's own tray icon (borrowed): while it shows, messages go through it.
    void setTrayIcon(QSystemTrayIcon *icon) { m_trayIcon = icon; }

    // The icon a message goes out through: the window's while it shows, so the panel never holds two;
    // else one of the notifier's own with the program's picture.
    QSystemTrayIcon *messageIcon();

private:
    void showOnDesktop(const QString &title, const QString &text, bool warning);

    core::QueueList &m_queue;
    engine::SettingsStore &m_settings;
    QueueNotices m_notices;
    ShowMessage m_show;
    QSystemTrayIcon *m_icon = nullptr;
    QPointer<QSystemTrayIcon> m_trayIcon;
    bool m_enabled = true;
};

} // namespace bw::ui
