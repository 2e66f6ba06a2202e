// SPDX-License-Identifier: MIT
// Shows a server's certificate that did not verify (subject, issuer, validity, SHA-256 fingerprint and
// the reason) and asks whether to trust it for that server. GUI thread only.
#pragma once

#include <cstdint>

#include <QDialog>
#include <QString>

#include "net/tls_stream.h"

class QLabel;
class QPushButton;

namespace bw::ui {

// What the dialog shows: the server and what its certificate says.
struct CertificateReview
{
    QString host;
    std::int32_t port = 0;
    net::CertificateInfo certificate;
    QString verifyFailure; // "Certificate verification failed: ..."
};

class TrustCertificateDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TrustCertificateDialog(const CertificateReview &review, QWidget *parent = nullptr);

    QPushButton *trustButton() const { return m_trust; }

    QPushButton *cancelButton() const { return m_cancel; }

    // The label of one shown value: "subject", "issuer", "validFrom", "validUntil", "sha256", "failure".
    QLabel *valueLabel(const QString &name) const;

private:
    QPushButton *m_trust;
    QPushButton *m_cancel;
};

} // namespace bw::ui
