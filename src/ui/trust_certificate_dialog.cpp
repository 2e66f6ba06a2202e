// SPDX-License-Identifier: MIT
#include "ui/trust_certificate_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/url.h"
#include "ui/trust_dialog_parts.h"

namespace bw::ui {

namespace {

QString fromStd(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

TrustCertificateDialog::TrustCertificateDialog(const CertificateReview &review, QWidget *parent)
    : QDialog(parent)
    , m_trust(nullptr)
    , m_cancel(nullptr)
{
    setObjectName(QStringLiteral("trustCertificateDialog"));
    setWindowTitle(tr("Trust Certificate"));
    const QString server = fromStd(core::hostForUrl(review.host.toStdString())) + QLatin1Char(':')
        + QString::number(review.port);
    auto *intro = new QLabel(tr("The certificate of %1 could not be verified.").arg(server));
    intro->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(tr("Reason:"), trustValueLabel(review.verifyFailure, QStringLiteral("failure")));
    form->addRow(
        tr("Subject:"), trustValueLabel(fromStd(review.certificate.subject), QStringLiteral("subject")));
    form->addRow(
        tr("Issuer:"), trustValueLabel(fromStd(review.certificate.issuer), QStringLiteral("issuer")));
    form->addRow(tr("Valid from:"),
        trustValueLabel(fromStd(review.certificate.notBefore), QStringLiteral("validFrom")));
    form->addRow(tr("Valid until:"),
        trustValueLabel(fromStd(review.certificate.notAfter), QStringLiteral("validUntil")));
    QLabel *fingerprint = trustValueLabel(fromStd(review.certificate.sha256), QStringLiteral("sha256"));
    fingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    form->addRow(tr("SHA-256 fingerprint:"), fingerprint);

    auto *warning =
        new QLabel(tr("Trust it only when you know this is the server's own certificate (compare "
                      "the fingerprint with one its owner gave you). Bellwick then accepts it for %1 "
                      "until the server shows a different certificate.")
                       .arg(server));
    warning->setWordWrap(true);

    QDialogButtonBox *buttons = trustButtonBox(*this, tr("&Trust Certificate"), m_trust, m_cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(warning);
    layout->addWidget(buttons);
}

QLabel *TrustCertificateDialog::valueLabel(const QString &name) const
{
    return findChild<QLabel *>(name);
}

} // namespace bw::ui
