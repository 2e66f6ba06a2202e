// SPDX-License-Identifier: MIT
#include "ui/desktop_notifier.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include "core/queue_list.h"
#include "engine/settings.h"
#include "engine/settings_store.h"
#include "ui/queue_row.h"
#include "widgets/app_icons.h"

namespace bw::ui {

namespace {

constexpr int kMessageMs = 10000;

} // namespace

DesktopNotifier::DesktopNotifier(core::QueueList &queue, engine::SettingsStore &settings, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_settings(settings)
    , m_enabled(settings.readInt(engine::kOptionsGroup, kSettingKey, 1) != 0)
{
    m_show = [this](const QString &title, const QString &text, bool warning) {
        showOnDesktop(title, text, warning);
    };
}

void DesktopNotifier::setEnabled(bool on)
{
    m_enabled = on;
    m_settings.writeInt(engine::kOptionsGroup, kSettingKey, on ? 1 : 0);
}

void DesktopNotifier::checkQueue()
{
    // Always kept up to date, so turning notices on does not replay old failures.
    std::vector<NoticeInput> items;
    for (const core::ItemState &state : m_queue.states()) {
        NoticeInput input{
            state.id, static_cast<int>(state.status), 0, state.retryCount, {}, state.endedForGood};
        // Only items that may have failed need their whole copy.
        if (belongsInTab(QueueTab::Errors, input.status, false)) {
            if (const std::optional<core::QueueItem> item = m_queue.snapshot(state.id)) {
                input.attempts = item->attempts;
                input.fileName = item->fileName.empty() ? item->host + item->path : item->fileName;
            }
        }
        items.push_back(std::move(input));
    }
    const std::vector<QueueNotice> notices = m_notices.update(items);
    if (!m_enabled || !m_show)
        return;
    for (const QueueNotice &notice : notices) {
        if (notice.kind == QueueNotice::Kind::ItemFailed) {
            m_show(tr("Transfer failed"),
                tr("%1: %2").arg(QString::fromStdString(notice.fileName),
                    QString::fromStdString(core::statusText(static_cast<core::ItemStatus>(notice.status)))),
                true);
        } else {
            m_show(tr("Bellwick"),
                tr("The transfer queue has finished: %1 finished, %2 failed.")
                    .arg(notice.finished)
                    .arg(notice.failed),
                notice.failed > 0);
        }
    }
}

void DesktopNotifier::showOnDesktop(const QString &title, const QString &text, bool warning)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable() && !QSystemTrayIcon::supportsMessages())
        return;
    QSystemTrayIcon *icon = messageIcon();
    const bool own = icon == m_icon;
    if (own)
        icon->show();
    icon->showMessage(
        title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, kMessageMs);
    if (own)
        QTimer::singleShot(kMessageMs, icon, &QSystemTrayIcon::hide);
}

QSystemTrayIcon *DesktopNotifier::messageIcon()
{
    if (m_trayIcon && m_trayIcon->isVisible())
        return m_trayIcon;
    if (!m_icon) {
        // Without a picture the panel shows an empty slot and Qt warns "No Icon set".
        const QIcon picture =
            QApplication::windowIcon().isNull() ? widgets::programIcon() : QApplication::windowIcon();
        m_icon = new QSystemTrayIcon(picture, this);
        m_icon->setObjectName(QStringLiteral("notificationIcon"));
        // The icon is only the messenger: it leaves the panel once the message is read.
        connect(m_icon, &QSystemTrayIcon::messageClicked, m_icon, &QSystemTrayIcon::hide);
    }
    return m_icon;
}

} // namespace bw::ui
