// SPDX-License-Identifier: MIT
#include "widgets/transfer_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "widgets/integer_edit.h"

namespace bw::widgets {

CTransferPage::CTransferPage(QWidget *parent)
    : QWidget(parent)
    , m_maxSpeed(new QLineEdit(this))
    , m_minSpeed(new QLineEdit(this))
    , m_conversion(new QButtonGroup(this))
    , m_ifExists(new QComboBox(this))
    , m_keepServerTimes(new QCheckBox(tr("Keep the server's modification times"), this))
    , m_segments(new QSpinBox(this))
{
    setObjectName(QStringLiteral("Transfer"));
    m_maxSpeed->setObjectName(QStringLiteral("maxSpeed"));
    m_minSpeed->setObjectName(QStringLiteral("minSpeed"));
    auto *form = new QFormLayout(this);
    form->addRow(tr("Max. Transfer Speed (kB/s):"), m_maxSpeed);
    form->addRow(tr("Min. Transfer Speed (kB/s):"), m_minSpeed);
    // 0 turns a limit off; a million kB/s is far above any line.
    setIntegerBounds(m_maxSpeed, tr("Max. Transfer Speed (kB/s):"), 0, 1000000);
    setIntegerBounds(m_minSpeed, tr("Min. Transfer Speed (kB/s):"), 0, 1000000);
    auto *group = new QGroupBox(this);
    auto *groupLayout = new QVBoxLayout(group);
    const QString names[] = {tr("None"), tr("Uppercase"), tr("Lowercase")};
    for (int i = 0; i < 3; ++i) {
        auto *button = new QRadioButton(names[i], group);
        m_conversion->addButton(button, i);
        groupLayout->addWidget(button);
    }
    form->addRow(tr("Filename Conversion:"), group);
    // In the order of the stored numbers.
    m_ifExists->setObjectName(QStringLiteral("ifExists"));
    m_ifExists->addItems({tr("Rename"), tr("Overwrite"), tr("Skip")});
    form->addRow(tr("If the file exists:"), m_ifExists);
    m_keepServerTimes->setObjectName(QStringLiteral("keepServerTimes"));
    form->addRow(m_keepServerTimes);
    // Within the per-site limit of the General page; 1 fetches every file on one connection.
    m_segments->setObjectName(QStringLiteral("maxSegments"));
    m_segments->setRange(1, kMaxSegments);
    form->addRow(tr("Connections per big download:"), m_segments);
    fillControls();
}

void CTransferPage::setValues(const TransferValues &values)
{
    m_values = values;
}

void CTransferPage::fillControls()
{
    m_maxSpeed->setText(QString::number(m_values.maxSpeed));
    m_minSpeed->setText(QString::number(m_values.minSpeed));
    // No button selected is a state an exclusive group cannot show; lift exclusivity to clear them.
    m_conversion->setExclusive(false);
    for (QAbstractButton *button : m_conversion->buttons())
        button->setChecked(m_conversion->id(button) == m_values.conversion);
    m_conversion->setExclusive(true);
    m_ifExists->setCurrentIndex(
        m_values.ifExists >= 0 && m_values.ifExists < m_ifExists->count() ? m_values.ifExists : 0);
    m_keepServerTimes->setChecked(m_values.keepServerTimes);
    m_segments->setValue(m_values.maxSegments);
}

QLineEdit *CTransferPage::readControls()
{
    const std::optional<int> maxSpeed = readBoundedInteger(m_maxSpeed);
    if (!maxSpeed)
        return m_maxSpeed;
    const std::optional<int> minSpeed = readBoundedInteger(m_minSpeed);
    if (!minSpeed)
        return m_minSpeed;
    m_values.maxSpeed = *maxSpeed;
    m_values.minSpeed = *minSpeed;
    m_values.conversion = m_conversion->checkedId();
    m_values.ifExists = m_ifExists->currentIndex();
    m_values.keepServerTimes = m_keepServerTimes->isChecked();
    m_values.maxSegments = m_segments->value();
    return nullptr;
}

} // namespace bw::widgets
