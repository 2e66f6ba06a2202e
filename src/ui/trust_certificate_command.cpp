// SPDX-License-Identifier: MIT
#include "ui/trust_certificate_command.h"

#include <string_view>

#include <QAction>
#include <QMessageBox>
#include <QMetaObject>

#include "core/queue_list.h"
#include "engine/certificate_trust_store.h"
#include "ui/refused_items.h"
#include "ui/trust_certificate_dialog.h"

namespace bw::ui {

namespace {

// How the TLS layer begins the reason it refused a certificate for.
constexpr std::string_view kRefusalPrefix = "Certificate verification failed";
constexpr int kDefaultTimeoutSeconds = 30;

} // namespace

TrustCertificateCommand::TrustCertificateCommand(
    core::QueueList &queue, engine::CertificateTrustStore &store, QWidget *dialogParent)
    : QObject(dialogParent)
    , m_queue(queue)
    , m_store(store)
    , m_dialogParent(dialogParent)
    , m_action(new QAction(tr("Trust Certificate..."), this))
{
    m_action->setObjectName(QStringLiteral("trustCertificate"));
    m_action->setEnabled(false);
    connect(m_action, &QAction::triggered, this, &TrustCertificateCommand::run);
}

TrustCertificateCommand::~TrustCertificateCommand()
{
    if (m_probe)
        m_probe->abort();
    if (m_fetch.joinable())
        m_fetch.join();
}

bool TrustCertificateCommand::canTrust(const core::QueueItem &item)
{
    return core::isTlsScheme(item.scheme) && !item.isInProgress() && !item.isDone()
        && item.statusDetail.starts_with(kRefusalPrefix);
}

void TrustCertificateCommand::setItem(std::int32_t itemId)
{
    m_itemId = itemId;
    const auto item = m_queue.snapshot(itemId);
    m_action->setEnabled(!m_fetching && item && canTrust(*item));
}

void TrustCertificateCommand::run()
{
    const auto item = m_queue.snapshot(m_itemId);
    if (m_fetching || !item || !canTrust(*item))
        return;
    if (m_fetch.joinable())
        m_fetch.join(); // the last fetch has delivered its result: its thread is ending
    m_fetching = true;
    m_action->setEnabled(false);
    m_probe = std::make_unique<net::CertificateProbe>();
    const net::TlsStart start =
        core::isImplicitTlsScheme(item->scheme) ? net::TlsStart::Implicit : net::TlsStart::FtpAuthTls;
    const int timeout = item->timeout > 0 ? item->timeout : kDefaultTimeoutSeconds;
    m_fetch = std::jthread(
        [this, probe = m_probe.get(), id = item->id, host = item->host, port = item->port, start, timeout] {
            const net::CertificateProbeResult result = probe->fetch(host, port, start, timeout);
            // Delivered on the GUI thread; dropped by Qt if the command is gone by then.
            QMetaObject::invokeMethod(
                this, [this, id, result] { onFetched(id, result); }, Qt::QueuedConnection);
        });
}

void TrustCertificateCommand::onFetched(std::int32_t itemId, const net::CertificateProbeResult &result)
{
    m_fetching = false;
    const auto item = m_queue.snapshot(itemId);
    if (!item) {
        finish(false);
        return;
    }
    if (!result.hasCertificate) {
        report(tr("The certificate of %1 could not be fetched: %2")
                   .arg(QString::fromStdString(item->host), QString::fromStdString(result.error)));
        finish(false);
        return;
    }
    CertificateReview review;
    review.host = QString::fromStdString(item->host);
    review.port = item->port;
    review.certificate = result.certificate;
    // The server's answer now; an empty one means it verifies today, so the item's own reason stays.
    review.verifyFailure =
        QString::fromStdString(result.verifyFailure.empty() ? item->statusDetail : result.verifyFailure);
    TrustCertificateDialog dialog(review, m_dialogParent);
    const int answer = m_runDialog ? m_runDialog(dialog) : dialog.exec();
    if (answer != QDialog::Accepted) {
        finish(false);
        return;
    }
    if (!m_store.trust(item->host, item->port, result.certificate.sha256))
        report(tr("The certificate is trusted until Bellwick ends: %1 could not be written.")
                   .arg(QString::fromStdString(m_store.filePath().string())));
    finish(true, resetRefusedItems(item->host, item->port));
}

QList<std::int32_t> TrustCertificateCommand::resetRefusedItems(const std::string &host, std::int32_t port)
{
    return retryRefusedItems(m_queue, [&host, port](const core::QueueItem &item) {
        return item.host == host && item.port == port && canTrust(item);
    });
}

void TrustCertificateCommand::finish(bool trusted, const QList<std::int32_t> &resetItems)
{
    setItem(m_itemId);
    emit finished(trusted, resetItems);
}

void TrustCertificateCommand::report(const QString &text)
{
    if (m_report)
        m_report(m_dialogParent, text);
    else
        QMessageBox::warning(m_dialogParent, tr("Trust Certificate"), text);
}

} // namespace bw::ui
