// SPDX-License-Identifier: MIT
#include "widgets/toggles_page.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace bw::widgets {

namespace {

// The boxes in page order and the field each one edits.
struct BoxDefinition
{
    const char *label;
    bool TogglesValues::*field;
};

constexpr BoxDefinition kBoxes[CTogglesPage::BoxCount] = {
    {"Hide passwords", &TogglesValues::hidePassword},
    {"Minimize to tray", &TogglesValues::minimizeTray},
    {"Use download path.", &TogglesValues::useDownloadPath},
    {"Store files with full paths.", &TogglesValues::longLocalPaths},
    {"Passive mode", &TogglesValues::passive},
    {"Show site list on startup", &TogglesValues::showSiteStart},
    {"Timestamp log entries", &TogglesValues::timeStamp},
    {"Monitor Clipboard URLs", &TogglesValues::monitorClipboard},
    {"Verify Clipboard URLs", &TogglesValues::verifyClipboard},
    {"Extract Clipboard URLs", &TogglesValues::extractClipboard},
};

} // namespace

CTogglesPage::CTogglesPage(bool perSiteMode, QWidget *parent)
    : QWidget(parent)
    , m_perSiteMode(perSiteMode)
{
    setObjectName(QStringLiteral("Toggles"));
    auto *layout = new QVBoxLayout(this);
    for (int i = 0; i < BoxCount; ++i) {
        auto *box = new QCheckBox(tr(kBoxes[i].label), this);
        box->setObjectName(QString::fromLatin1(kBoxes[i].label));
        if (m_perSiteMode && i != Passive)
            box->setEnabled(false);
        layout->addWidget(box);
        m_boxes[static_cast<std::size_t>(i)] = box;
    }
    layout->addStretch();
    fillControls();
}

void CTogglesPage::setValues(const TogglesValues &values)
{
    m_values = values;
}

void CTogglesPage::fillControls()
{
    for (int i = 0; i < BoxCount; ++i)
        m_boxes[static_cast<std::size_t>(i)]->setChecked(m_values.*kBoxes[i].field);
}

void CTogglesPage::readControls()
{
    for (int i = 0; i < BoxCount; ++i)
        m_values.*kBoxes[i].field = m_boxes[static_cast<std::size_t>(i)]->isChecked();
}

} // namespace bw::widgets
