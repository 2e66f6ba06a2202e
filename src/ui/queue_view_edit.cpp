// SPDX-License-Identifier: MIT
// The queue view's commands on the current tab's selection (Edit URL, the retry values, Delete) and its
// context menu.
#include <QAction>
#include <QMenu>

#include "core/queue_list.h"
#include "engine/local_path.h"
#include "ui/key_passphrase_command.h"
#include "ui/queue_document.h"
#include "ui/queue_view.h"
#include "ui/trust_certificate_command.h"
#include "ui/trust_host_key_command.h"
#include "ui/url_password_mask.h"
#include "widgets/integer_edit.h"
#include "widgets/tiled_list_ctrl.h"

namespace bw::ui {

using widgets::kAddEditUrlCaption;
using widgets::kUrlLabel;

void CFtpTreeView::createContextActions()
{
    m_editUrlAction = new QAction(tr("Edit URL"), this);
    m_editRetryDelayAction = new QAction(tr("Edit Retry Delay"), this);
    m_editRetryLimitAction = new QAction(tr("Edit Retry Count Limit"), this);
    m_resetRetryCountAction = new QAction(tr("Reset Retry Count"), this);
    m_deleteAction = new QAction(tr("Delete"), this);
    connect(m_editUrlAction, &QAction::triggered, this, &CFtpTreeView::editUrl);
    connect(m_editRetryDelayAction, &QAction::triggered, this, &CFtpTreeView::editRetryDelay);
    connect(m_editRetryLimitAction, &QAction::triggered, this, &CFtpTreeView::editRetryCountLimit);
    connect(m_resetRetryCountAction, &QAction::triggered, this, &CFtpTreeView::resetRetryCount);
    connect(m_deleteAction, &QAction::triggered, this, &CFtpTreeView::deleteSelection);
    m_clearCompletedAction = new QAction(tr("Clear Completed"), this);
    m_clearCompletedAction->setObjectName(QStringLiteral("clearCompleted"));
    connect(m_clearCompletedAction, &QAction::triggered, this, &CFtpTreeView::clearCompleted);
    auto *paste = new QAction(tr("Paste URLs"), this);
    paste->setObjectName(QStringLiteral("pasteUrls"));
    paste->setShortcut(QKeySequence::Paste);
    paste->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(paste, &QAction::triggered, this, &CFtpTreeView::pasteUrls);
    addAction(paste);
    m_trustHostKey = new TrustHostKeyCommand(m_queue, this);
    connect(m_trustHostKey, &TrustHostKeyCommand::finished, this, &CFtpTreeView::refreshResetItems);
}

QList<QAction *> CFtpTreeView::contextActions() const
{
    QList<QAction *> actions{m_editUrlAction, m_editRetryDelayAction, m_editRetryLimitAction,
        m_resetRetryCountAction, m_deleteAction};
    if (m_trust)
        actions.insert(actions.size() - 1, m_trust->action());
    actions.insert(actions.size() - 1, m_trustHostKey->action());
    if (m_keyPassphrase)
        actions.insert(actions.size() - 1, m_keyPassphrase->action());
    actions.append(m_clearCompletedAction);
    return actions;
}

void CFtpTreeView::setTrustStore(engine::CertificateTrustStore &store)
{
    delete m_trust;
    m_trust = new TrustCertificateCommand(m_queue, store, this);
    connect(m_trust, &TrustCertificateCommand::finished, this, &CFtpTreeView::refreshResetItems);
}

void CFtpTreeView::setKeyPassphrases(engine::KeyPassphrases &passphrases)
{
    delete m_keyPassphrase;
    m_keyPassphrase = new KeyPassphraseCommand(m_queue, passphrases, this);
    connect(m_keyPassphrase, &KeyPassphraseCommand::entered, this,
        [this](const QList<std::int32_t> &resetItems) { refreshResetItems(true, resetItems); });
}

void CFtpTreeView::refreshResetItems(bool, const QList<std::int32_t> &resetItems)
{
    for (const std::int32_t id : resetItems)
        refreshItem(id);
}

void CFtpTreeView::prepareContextActions(std::int32_t itemId)
{
    if (m_trust)
        m_trust->setItem(itemId);
    m_trustHostKey->setItem(itemId);
    if (m_keyPassphrase)
        m_keyPassphrase->setItem(itemId);
}

void CFtpTreeView::showContextMenu(TiledListCtrl *list, const QPoint &pos)
{
    const int row = list->rowAt(pos);
    if (row < 0)
        return;
    list->selectRow(row, !list->selectedRows().contains(row));
    prepareContextActions(static_cast<std::int32_t>(list->record(row).itemId));
    QMenu menu(this);
    menu.addActions(contextActions());
    menu.exec(list->viewport()->mapToGlobal(pos));
}

QList<std::int32_t> CFtpTreeView::selectedItemIds() const
{
    QList<std::int32_t> ids;
    TiledListCtrl *list = currentList();
    for (const int row : list->selectedRows()) {
        const std::int64_t id = list->record(row).itemId;
        if (id != 0)
            ids.append(static_cast<std::int32_t>(id));
    }
    return ids;
}

bool CFtpTreeView::canDelete() const
{
    return currentList()->firstSelectedRow() >= 0;
}

void CFtpTreeView::deleteSelection()
{
    for (const std::int32_t id : selectedItemIds()) {
        if (!m_queue.contains(id) || m_queue.removeItem(id))
            removeRows(id);
        else
            refreshItem(id); // in progress: only marked, and a marked item belongs in no tab
    }
}

void CFtpTreeView::editUrl()
{
    const QList<std::int32_t> ids = selectedItemIds();
    if (ids.isEmpty())
        return;
    const std::int32_t id = ids.first();
    const std::optional<core::QueueItem> item = m_queue.snapshot(id);
    if (!item)
        return;
    const QString current = QString::fromStdString(item->url);
    const bool hidePassword = m_hidePassword;
    const std::optional<QString> text = m_prompts.askText(
        this, kAddEditUrlCaption, kUrlLabel, hidePassword ? maskUrlPassword(current) : current);
    if (!text)
        return;
    const std::string url = (hidePassword ? unmaskUrlPassword(*text, current) : *text).toStdString();
    if (url == item->url)
        return;
    if (!m_queue.setUrl(id, url, localPathForEditedUrl(*item, url))) {
        m_prompts.showError(this, tr("URL parsing error"), tr("Error"));
        return;
    }
    // Rebuild the rows so host, file, path and local path show the new URL.
    removeRows(id);
    refreshItem(id);
    saveDocument();
}

std::string CFtpTreeView::localPathForEditedUrl(const core::QueueItem &item, const std::string &url) const
{
    // A manual connection has no file; an upload keeps the file it sends, wherever it now goes.
    if (item.localPath.empty())
        return {};
    core::Url parsed;
    if (core::parseUrl(url, parsed) && core::isUploadScheme(parsed.scheme))
        return item.localPath;
    // A download gets the file Add URL would give it: keeping the old one would resume the new file
    // from the old file's length.
    return engine::buildLocalPath(localPathOptions(), url);
}

void CFtpTreeView::editRetryDelay()
{
    editRetryValue(true);
}

void CFtpTreeView::editRetryCountLimit()
{
    editRetryValue(false);
}

void CFtpTreeView::editRetryValue(bool retryDelay)
{
    const QList<std::int32_t> ids = selectedItemIds();
    if (ids.isEmpty())
        return;
    const std::int32_t first = ids.first();
    const core::QueueItem firstItem = core::snapshotOrVanished(m_queue, first);
    const int current = retryDelay ? firstItem.retryTime : firstItem.retryCount;
    const QString caption = retryDelay ? tr("Edit Retry Delay") : tr("Edit Retry Count");
    const std::optional<QString> text =
        m_prompts.askText(this, caption, tr("Value: "), QString::number(current));
    if (!text)
        return;
    const int value = widgets::leadingNumber(*text);
    for (const std::int32_t id : ids) {
        if (retryDelay)
            m_queue.setRetryTime(id, value);
        else
            m_queue.setRetryCount(id, value);
        refreshItem(id);
    }
    saveDocument();
}

void CFtpTreeView::resetRetryCount()
{
    const QList<std::int32_t> ids = selectedItemIds();
    if (ids.isEmpty())
        return;
    for (const std::int32_t id : ids) {
        m_queue.setAttempts(id, 0);
        refreshItem(id);
    }
    saveDocument();
}

} // namespace bw::ui
