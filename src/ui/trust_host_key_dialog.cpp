// SPDX-License-Identifier: MIT
#include "ui/trust_host_key_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/url.h"
#include "ui/trust_dialog_parts.h"

namespace bw::ui {

TrustHostKeyDialog::TrustHostKeyDialog(const HostKeyReview &review, QWidget *parent)
    : QDialog(parent)
    , m_trust(nullptr)
    , m_cancel(nullptr)
{
    setObjectName(QStringLiteral("trustHostKeyDialog"));
    setWindowTitle(tr("Trust Host Key"));
    const QString server = QString::fromStdString(core::hostForUrl(review.host.toStdString()))
        + QLatin1Char(':') + QString::number(review.port);
    auto *intro = new QLabel(tr("The host key of %1 is not among the known hosts.").arg(server));
    intro->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(tr("Server:"), trustValueLabel(server, QStringLiteral("server")));
    form->addRow(tr("Key type:"),
        trustValueLabel(
            review.keyType.isEmpty() ? tr("(not known)") : review.keyType, QStringLiteral("keyType")));
    QLabel *fingerprint = trustValueLabel(review.sha256, QStringLiteral("sha256"));
    fingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    form->addRow(tr("SHA-256 fingerprint:"), fingerprint);

    auto *warning = new QLabel(tr("Trust it only when you know this is the server's own key (compare the "
                                  "fingerprint with one its owner gave you). Bellwick then adds it to "
                                  "your known hosts for %1.")
                                   .arg(server));
    warning->setWordWrap(true);

    QDialogButtonBox *buttons = trustButtonBox(*this, tr("&Trust Host Key"), m_trust, m_cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(warning);
    layout->addWidget(buttons);
}

QLabel *TrustHostKeyDialog::valueLabel(const QString &name) const
{
    return findChild<QLabel *>(name);
}

} // namespace bw::ui
