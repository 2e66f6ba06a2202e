// SPDX-License-Identifier: MIT
#include "ui/key_passphrase_command.h"

#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <QTimer>

#include "core/queue_list.h"
#include "engine/key_passphrases.h"
#include "ui/refused_items.h"

namespace bw::ui {

namespace {

std::optional<QString> askWithDialog(QWidget *parent, const QString &keyPath)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, KeyPassphraseCommand::tr("Key Passphrase"),
        KeyPassphraseCommand::tr("Passphrase of %1:").arg(keyPath), QLineEdit::Password, QString(), &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

} // namespace

KeyPassphraseCommand::KeyPassphraseCommand(
    core::QueueList &queue, engine::KeyPassphrases &passphrases, QWidget *dialogParent)
    : QObject(dialogParent)
    , m_queue(queue)
    , m_passphrases(passphrases)
    , m_dialogParent(dialogParent)
    , m_action(new QAction(tr("Enter Key Passphrase..."), this))
    , m_ask(askWithDialog)
{
    m_action->setObjectName(QStringLiteral("enterKeyPassphrase"));
    m_action->setEnabled(false);
    connect(m_action, &QAction::triggered, this, &KeyPassphraseCommand::run);
}

bool KeyPassphraseCommand::canEnter(const core::QueueItem &item)
{
    return !item.isInProgress() && !item.isDone()
        && !engine::keyPathOfPassphraseDetail(item.statusDetail).empty();
}

void KeyPassphraseCommand::setItem(std::int32_t itemId)
{
    m_itemId = itemId;
    const auto item = m_queue.snapshot(itemId);
    m_action->setEnabled(item && canEnter(*item));
}

void KeyPassphraseCommand::run()
{
    askFor(m_itemId);
}

void KeyPassphraseCommand::offer(const core::QueueItem &item)
{
    if (!m_askOnFirstNeed || !canEnter(item))
        return;
    const std::string keyPath = engine::keyPathOfPassphraseDetail(item.statusDetail);
    if (m_passphrases.find(keyPath) || !m_askedKeys.insert(keyPath).second)
        return;
    QTimer::singleShot(0, this, [this, id = item.id] { askFor(id); });
}

void KeyPassphraseCommand::askFor(std::int32_t itemId)
{
    const auto item = m_queue.snapshot(itemId);
    if (!item || !canEnter(*item))
        return;
    const std::string keyPath = engine::keyPathOfPassphraseDetail(item->statusDetail);
    const std::optional<QString> passphrase = m_ask(m_dialogParent, QString::fromStdString(keyPath));
    if (!passphrase)
        return;
    m_askedKeys.erase(keyPath); // one that does not open the key is forgotten: ask again then
    m_passphrases.set(keyPath, passphrase->toStdString());
    // Every item that stopped at the same key goes round again, not only the one asked about.
    const QList<std::int32_t> reset = retryRefusedItems(m_queue, [&keyPath](const core::QueueItem &waiting) {
        return canEnter(waiting) && engine::keyPathOfPassphraseDetail(waiting.statusDetail) == keyPath;
    });
    setItem(m_itemId);
    emit entered(reset);
}

} // namespace bw::ui
