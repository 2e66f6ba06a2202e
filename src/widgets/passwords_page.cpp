// SPDX-License-Identifier: MIT
#include "widgets/passwords_page.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "engine/keyring.h"

namespace bw::widgets {

CPasswordsPage::CPasswordsPage(QWidget *parent)
    : QWidget(parent)
    , m_where(new QLabel(this))
    , m_warning(new QLabel(tr(engine::kNoKeyringWarning), this))
    , m_keepInFiles(new QCheckBox(tr("Keep passwords in files anyway"), this))
{
    m_where->setObjectName(QStringLiteral("passwordsWhere"));
    m_keepInFiles->setObjectName(QStringLiteral("keepPasswordsInFiles"));
    m_warning->setWordWrap(true);
    auto *form = new QFormLayout;
    form->addRow(tr("Passwords are kept in:"), m_where);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_warning);
    layout->addWidget(m_keepInFiles);
    layout->addStretch(1);
    setKeyringFound(false);
}

void CPasswordsPage::setKeyringFound(bool found)
{
    m_where->setText(found ? tr("Desktop keyring") : tr("This computer's files (no keyring found)"));
    m_warning->setVisible(!found);
    m_keepInFiles->setEnabled(found);
}

bool CPasswordsPage::keepInFiles() const
{
    return m_keepInFiles->isChecked();
}

void CPasswordsPage::setKeepInFiles(bool keep)
{
    m_keepInFiles->setChecked(keep);
}

} // namespace bw::widgets
