// SPDX-License-Identifier: MIT
// The "Proxy" options page: no proxy, the environment's (as curl reads it), or one the user names
// (HTTP or SOCKS5, host, port, user, password). GUI thread only.
#pragma once

#include <QWidget>

#include "engine/proxy_choice.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace bw::widgets {

class ProxyPage : public QWidget
{
    Q_OBJECT

public:
    explicit ProxyPage(QWidget *parent = nullptr);

    engine::ProxySettings values() const { return m_values; }

    void setValues(const engine::ProxySettings &values);

    void fillControls();
    void readControls();

    QRadioButton *modeButton(engine::ProxyMode mode) const;

    QComboBox *kindBox() const { return m_kind; }

    QLineEdit *hostBox() const { return m_host; }

    QSpinBox *portBox() const { return m_port; }

    QLineEdit *userBox() const { return m_user; }

    QLineEdit *passwordBox() const { return m_password; }

private:
    void enableManualFields();

    engine::ProxySettings m_values;
    QRadioButton *m_none;
    QRadioButton *m_environment;
    QRadioButton *m_manual;
    QComboBox *m_kind;
    QLineEdit *m_host;
    QSpinBox *m_port;
    QLineEdit *m_user;
    QLineEdit *m_password;
};

} // namespace bw::widgets
