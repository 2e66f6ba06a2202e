// SPDX-License-Identifier: MIT
// The "Toggles" options page: ten check boxes. In per-site mode only "Passive mode" stays enabled.
// GUI thread only.
#pragma once

#include <array>

#include <QWidget>

class QCheckBox;

namespace bw::widgets {

struct TogglesValues
{
    bool hidePassword = false;
    bool minimizeTray = false;
    bool useDownloadPath = false;
    bool longLocalPaths = false;
    bool passive = false;
    bool showSiteStart = false;
    bool timeStamp = false;
    bool monitorClipboard = false;
    bool verifyClipboard = false;
    bool extractClipboard = false;

    bool operator==(const TogglesValues &) const = default;
};

class CTogglesPage : public QWidget
{
    Q_OBJECT

public:
    enum Box
    {
        HidePassword,
        MinimizeTray,
        UseDownloadPath,
        LongLocalPaths,
        Passive,
        ShowSiteStart,
        TimeStamp,
        MonitorClipboard,
        VerifyClipboard,
        ExtractClipboard,
        BoxCount
    };

    explicit CTogglesPage(bool perSiteMode = false, QWidget *parent = nullptr);

    bool perSiteMode() const { return m_perSiteMode; }

    TogglesValues values() const { return m_values; }

    void setValues(const TogglesValues &values);

    void fillControls();
    void readControls();

    QCheckBox *box(Box which) const { return m_boxes.at(which); }

private:
    bool m_perSiteMode;
    TogglesValues m_values;
    std::array<QCheckBox *, BoxCount> m_boxes{};
};

} // namespace bw::widgets
