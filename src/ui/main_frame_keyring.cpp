// SPDX-License-Identifier: MIT
// The window and the desktop keyring: the keyring's answers come on its own thread and are handed to
// the window's; after each, the queue and site files are saved again, so a password leaves a file (or,
// kept in files anyway, comes back) at once.
#include <QTimer>

#include "browse/site_dialog.h"
#include "engine/engine.h"
#include "engine/keyring.h"
#include "engine/keyring_service.h"
#include "ui/main_frame.h"

namespace bw::ui {

void CMainFrame::watchKeyring()
{
    engine::KeyringService *keyring = m_context.engine.keyring();
    if (!keyring)
        return;
    keyring->setUsedForFiles(!m_settings.passwordsInFiles);
    m_connect->sites.setKeyring(keyring);
    // Queued: the keyring's thread never waits for the window.
    keyring->setChangeListener([this] {
        QMetaObject::invokeMethod(
            this, [this] { onKeyringChanged(); }, Qt::QueuedConnection);
    });
}

void CMainFrame::stopWatchingKeyring()
{
    // Waits for a call under way, so none reaches a window that is going.
    if (engine::KeyringService *keyring = m_context.engine.keyring())
        keyring->setChangeListener({});
}

void CMainFrame::onKeyringChanged()
{
    engine::KeyringService *keyring = m_context.engine.keyring();
    if (!keyring || m_closing)
        return;
    switch (keyring->state()) {
    case engine::KeyringService::State::Probing:
        return;
    case engine::KeyringService::State::Missing:
        if (m_toldNoKeyring || m_settings.passwordsInFiles)
            return;
        if (!m_panesReady) {
            QTimer::singleShot(100, this, [this] { onKeyringChanged(); });
            return;
        }
        m_toldNoKeyring = true;
        logSiteFileNotice(engine::kNoKeyringWarning);
        return;
    case engine::KeyringService::State::Available:
        requestSave(true);
        // A site file that could not be read whole stays as it is until the user changes the sites.
        if (m_connect->sites.fileState() != browse::SiteFileState::Damaged
            && m_connect->sites.fileState() != browse::SiteFileState::Unreadable)
            m_connect->sites.saveIfModified(m_connect->sitesFile);
        return;
    }
}

} // namespace bw::ui
