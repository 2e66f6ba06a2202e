// SPDX-License-Identifier: MIT
// The main frame's clipboard watch: URLs copied anywhere go to the queue when the options ask for it.
#include <QString>
#include <QStringList>

#include "core/queue_list.h"
#include "ui/clipboard_watcher.h"
#include "ui/main_frame.h"
#include "ui/queue_view.h"

namespace bw::ui {

void CMainFrame::createClipboardWatcher()
{
    auto isQueued = [this](const QString &url) {
        const std::string wanted = url.toStdString();
        for (const core::QueueItem &item : queue().snapshot()) {
            if (item.url == wanted)
                return true;
        }
        return false;
    };
    auto addUrls = [this](const QStringList &urls) {
        m_queueView->addUrlsInBatches(urls);
    };
    m_clipboard = new ClipboardWatcher(isQueued, addUrls, this);
    applyClipboardOptions();
}

void CMainFrame::applyClipboardOptions()
{
    m_clipboard->setOptions({m_settings.monitorClipboard, m_settings.verifyClipboard,
        m_settings.extractClipboard, m_settings.hidePassword});
}

} // namespace bw::ui
