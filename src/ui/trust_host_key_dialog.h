// SPDX-License-Identifier: MIT
// Shows an SSH server's host key that the known hosts lack (server, SHA-256 fingerprint, key type) and
// asks whether to accept it for that server. Cancel is the default button. GUI thread only.
#pragma once

#include <cstdint>

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace bw::ui {

struct HostKeyReview
{
    QString host;
    std::int32_t port = 0;
    QString sha256; // "SHA256:..."
    QString keyType; // empty when unknown
};

class TrustHostKeyDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TrustHostKeyDialog(const HostKeyReview &review, QWidget *parent = nullptr);

    QPushButton *trustButton() const { return m_trust; }

    QPushButton *cancelButton() const { return m_cancel; }

    // The label of one shown value: "server", "sha256", "keyType".
    QLabel *valueLabel(const QString &name) const;

private:
    QPushButton *m_trust;
    QPushButton *m_cancel;
};

} // namespace bw::ui
