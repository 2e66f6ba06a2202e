// SPDX-License-Identifier: MIT
#include "ui/trust_host_key_command.h"

#include <QAction>
#include <QMessageBox>
#include <QMetaObject>

#include "core/queue_list.h"
#include "core/url.h"
#include "engine/host_key_trust.h"
#include "ui/refused_items.h"
#include "ui/trust_host_key_dialog.h"

namespace bw::ui {

TrustHostKeyCommand::TrustHostKeyCommand(core::QueueList &queue, QWidget *dialogParent)
    : QObject(dialogParent)
    , m_queue(queue)
    , m_dialogParent(dialogParent)
    , m_action(new QAction(tr("Trust Host Key..."), this))
    , m_truster(engine::trustHostKey)
{
    m_action->setObjectName(QStringLiteral("trustHostKey"));
    m_action->setEnabled(false);
    connect(m_action, &QAction::triggered, this, &TrustHostKeyCommand::run);
}

TrustHostKeyCommand::~TrustHostKeyCommand()
{
    if (m_record.joinable())
        m_record.join();
}

bool TrustHostKeyCommand::canTrust(const core::QueueItem &item)
{
    return core::isSftpScheme(item.scheme) && !item.isInProgress() && !item.isDone()
        && engine::unknownHostKeyOfDetail(item.statusDetail).has_value();
}

void TrustHostKeyCommand::setItem(std::int32_t itemId)
{
    m_itemId = itemId;
    const auto item = m_queue.snapshot(itemId);
    m_action->setEnabled(!m_trusting && item && canTrust(*item));
}

void TrustHostKeyCommand::run()
{
    const auto item = m_queue.snapshot(m_itemId);
    if (m_trusting || !item || !canTrust(*item))
        return;
    const engine::UnknownHostKey key = *engine::unknownHostKeyOfDetail(item->statusDetail);
    HostKeyReview review;
    review.host = QString::fromStdString(item->host);
    review.port = item->port;
    review.sha256 = QString::fromStdString(key.sha256);
    review.keyType = QString::fromStdString(key.keyType);
    TrustHostKeyDialog dialog(review, m_dialogParent);
    if ((m_runDialog ? m_runDialog(dialog) : dialog.exec()) != QDialog::Accepted) {
        finish(false);
        return;
    }
    if (m_record.joinable())
        m_record.join(); // the last recording has delivered its result: its thread is ending
    m_trusting = true;
    m_action->setEnabled(false);
    m_record = std::jthread([this, truster = m_truster, host = item->host, port = item->port,
                                user = item->user, sha256 = key.sha256] {
        std::string error;
        const bool recorded = truster(host, port, user, sha256, error);
        // Delivered on the GUI thread; dropped by Qt if the command is gone by then.
        QMetaObject::invokeMethod(
            this, [this, host, port, recorded, error] { onRecorded(host, port, recorded, error); },
            Qt::QueuedConnection);
    });
}

void TrustHostKeyCommand::onRecorded(
    const std::string &host, std::int32_t port, bool recorded, const std::string &error)
{
    m_trusting = false;
    if (!recorded) {
        report(tr("The host key of %1 could not be trusted: %2")
                   .arg(QString::fromStdString(host), QString::fromStdString(error)));
        finish(false);
        return;
    }
    finish(true, resetRefusedItems(host, port));
}

QList<std::int32_t> TrustHostKeyCommand::resetRefusedItems(const std::string &host, std::int32_t port)
{
    return retryRefusedItems(m_queue, [&host, port](const core::QueueItem &item) {
        return item.host == host && item.port == port && canTrust(item);
    });
}

void TrustHostKeyCommand::finish(bool trusted, const QList<std::int32_t> &resetItems)
{
    setItem(m_itemId);
    emit finished(trusted, resetItems);
}

void TrustHostKeyCommand::report(const QString &text)
{
    if (m_report)
        m_report(m_dialogParent, text);
    else
        QMessageBox::warning(m_dialogParent, tr("Trust Host Key"), text);
}

} // namespace bw::ui
