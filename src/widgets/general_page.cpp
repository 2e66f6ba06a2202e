// SPDX-License-Identifier: MIT
#include "widgets/general_page.h"

#include <QFormLayout>
#include <QLineEdit>

#include "widgets/integer_edit.h"

namespace bw::widgets {

namespace {

constexpr int kDaySeconds = 86400;
constexpr int kMostThreads = 100;

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

    // Each box takes what the engine can use: at least one thread, a retry time of -1 (no rest) or more,
    // a retry count up to "no limit" (9999), 0 threads per site for no limit.
    const struct
    {
        QLineEdit *box;
        QString label;
        int minimum;
        int maximum;
    } rows[] = {
        {m_timeout, tr("Timeout:"), 0, kDaySeconds},
        {m_retryTime, tr("Retry Time:"), -1, kDaySeconds},
        {m_maxThreads, tr("Max. Threads:"), 1, kMostThreads},
        {m_maxThreadsPerSite, tr("Max. Threads per Site:"), 0, kMostThreads},
        {m_maxRetries, tr("Max. Retries:"), 0, 9999},
    };

    for (const auto &row : rows) {
        form->addRow(row.label, row.box);
        setIntegerBounds(row.box, row.label, row.minimum, row.maximum);
    }
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
        const std::optional<int> value = readBoundedInteger(box);
        if (!value)
            return box;
        *field = *value;
    }
    m_values = read;
    return nullptr;
}

} // namespace bw::widgets
