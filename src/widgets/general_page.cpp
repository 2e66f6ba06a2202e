// SPDX-License-Identifier: MIT
#include "widgets/general_page.h"

#include <QFormLayout>
#include <QLineEdit>

#include "widgets/integer_edit.h"

namespace bw::widgets {

namespace {

QLineEdit *integerBox(const QString &name, QWidget *parent)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(name);
    return box;
}

} // namespace

CGeneralPage::CGeneralPage(bool perSiteMode, QWidget *parent)
    : QWidget(parent)
    , m_perSiteMode(perSiteMode)
    , m_timeout(integerBox(QStringLiteral("timeout"), this))
    , m_retryTime(integerBox(QStringLiteral("retryTime"), this))
    , m_maxThreads(integerBox(QStringLiteral("maxThreads"), this))
    , m_maxThreadsPerSite(integerBox(QStringLiteral("maxThreadsPerSite"), this))
    , m_maxRetries(integerBox(QStringLiteral("maxRetries"), this))
{
    setObjectName(QStringLiteral("General"));
    auto *form = new QFormLayout(this);
    form->addRow(tr("Timeout:"), m_timeout);
    form->addRow(tr("Retry Time:"), m_retryTime);
    form->addRow(tr("Max. Threads:"), m_maxThreads);
    form->addRow(tr("Max. Threads per Site:"), m_maxThreadsPerSite);
    form->addRow(tr("Max. Retries:"), m_maxRetries);
    if (m_perSiteMode) {
        m_maxThreads->setEnabled(false);
        m_maxThreadsPerSite->setEnabled(false);
    }
    fillControls();
}

void CGeneralPage::setValues(const GeneralValues &values)
{
    m_values = values;
}

void CGeneralPage::fillControls()
{
    m_timeout->setText(QString::number(m_values.timeout));
    m_retryTime->setText(QString::number(m_values.retryTime));
    m_maxThreads->setText(QString::number(m_values.maxThreads));
    m_maxThreadsPerSite->setText(QString::number(m_values.maxThreadsPerSite));
    m_maxRetries->setText(QString::number(m_values.maxRetries));
}

QLineEdit *CGeneralPage::readControls()
{
    GeneralValues read = m_values;
    const std::pair<QLineEdit *, int *> boxes[] = {
        {m_timeout, &read.timeout},
        {m_retryTime, &read.retryTime},
        {m_maxThreads, &read.maxThreads},
        {m_maxThreadsPerSite, &read.maxThreadsPerSite},
        {m_maxRetries, &read.maxRetries},
    };
    for (const auto &[box, field] : boxes) {
        const std::optional<int> value = parseInteger(box->text());
        if (!value)
            return box;
        *field = *value;
    }
    m_values = read;
    return nullptr;
}

} // namespace bw::widgets
