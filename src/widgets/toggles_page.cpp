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
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Hide passwords"), &TogglesValues::hidePassword},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Minimize to tray"), &TogglesValues::minimizeTray},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Use download path."), &TogglesValues::useDownloadPath},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Store files with full paths."),
        &TogglesValues::longLocalPaths},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Passive mode"), &TogglesValues::passive},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Show site list on startup"),
        &TogglesValues::showSiteStart},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Timestamp log entries"), &TogglesValues::timeStamp},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Monitor Clipboard URLs"),
        &TogglesValues::monitorClipboard},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Verify Clipboard URLs"),
        &TogglesValues::verifyClipboard},
    {QT_TRANSLATE_NOOP("bw::widgets::CTogglesPage", "Extract Clipboard URLs"),
        &TogglesValues::extractClipboard},
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
