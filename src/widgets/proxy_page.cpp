// SPDX-License-Identifier: MIT
#include "widgets/proxy_page.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace bw::widgets {

ProxyPage::ProxyPage(QWidget *parent)
    : QWidget(parent)
    , m_none(new QRadioButton(tr("None"), this))
    , m_environment(new QRadioButton(tr("From the environment"), this))
    , m_manual(new QRadioButton(tr("Manual:"), this))
    , m_kind(new QComboBox(this))
    , m_host(new QLineEdit(this))
    , m_port(new QSpinBox(this))
    , m_user(new QLineEdit(this))
    , m_password(new QLineEdit(this))
{
    setObjectName(QStringLiteral("Proxy"));
    m_environment->setToolTip(
        tr("http_proxy, https_proxy, ftp_proxy, all_proxy and no_proxy, as curl reads them"));
    m_kind->addItem(tr("HTTP"), static_cast<int>(net::ProxyKind::Http));
    m_kind->addItem(tr("SOCKS5"), static_cast<int>(net::ProxyKind::Socks5));
    m_port->setRange(1, 65535);
    m_password->setEchoMode(QLineEdit::Password);
    auto *fields = new QFormLayout;
    fields->addRow(tr("Type:"), m_kind);
    fields->addRow(tr("Host:"), m_host);
    fields->addRow(tr("Port:"), m_port);
    fields->addRow(tr("User:"), m_user);
    fields->addRow(tr("Password:"), m_password);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_none);
    layout->addWidget(m_environment);
    layout->addWidget(m_manual);
    layout->addLayout(fields);
    layout->addStretch();
    connect(m_manual, &QRadioButton::toggled, this, &ProxyPage::enableManualFields);
    fillControls();
}

QRadioButton *ProxyPage::modeButton(engine::ProxyMode mode) const
{
    switch (mode) {
    case engine::ProxyMode::None:
        return m_none;
    case engine::ProxyMode::Manual:
        return m_manual;
    case engine::ProxyMode::Environment:
        break;
    }
    return m_environment;
}

void ProxyPage::setValues(const engine::ProxySettings &values)
{
    m_values = values;
}

void ProxyPage::fillControls()
{
    modeButton(m_values.mode)->setChecked(true);
    m_kind->setCurrentIndex(m_values.manual.kind == net::ProxyKind::Socks5 ? 1 : 0);
    m_host->setText(QString::fromStdString(m_values.manual.host));
    m_port->setValue(m_values.manual.port > 0 ? m_values.manual.port : 1080);
    m_user->setText(QString::fromStdString(m_values.manual.user));
    m_password->setText(QString::fromStdString(m_values.manual.password));
    enableManualFields();
}

void ProxyPage::readControls()
{
    m_values.mode = m_none->isChecked() ? engine::ProxyMode::None
        : m_manual->isChecked()         ? engine::ProxyMode::Manual
                                        : engine::ProxyMode::Environment;
    m_values.manual.kind = static_cast<net::ProxyKind>(m_kind->currentData().toInt());
    m_values.manual.host = m_host->text().trimmed().toStdString();
    m_values.manual.port = m_port->value();
    m_values.manual.user = m_user->text().toStdString();
    m_values.manual.password = m_password->text().toStdString();
}

void ProxyPage::enableManualFields()
{
    for (QWidget *field :
        {static_cast<QWidget *>(m_kind), static_cast<QWidget *>(m_host), static_cast<QWidget *>(m_port),
            static_cast<QWidget *>(m_user), static_cast<QWidget *>(m_password)})
        field->setEnabled(m_manual->isChecked());
}

} // namespace bw::widgets
