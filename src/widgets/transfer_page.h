// SPDX-License-Identifier: MIT
// The "Transfer" options page: the speed limits all transfers share, the case of downloaded file
// names, what a download does when its local name is another file, whether it keeps the server's
// modification time, and how many connections one big download may use. GUI thread only.
#pragma once

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace bw::widgets {

struct TransferValues
{
    int maxSpeed = 0; // kB/s
    int minSpeed = 0; // kB/s
    int conversion = -1; // 0 "None", 1 "Uppercase", 2 "Lowercase", -1 none selected
    int ifExists = 0; // 0 "Rename", 1 "Overwrite", 2 "Skip"
    bool keepServerTimes = true;
    int maxSegments = 4; // connections for one big download, 1 to kMaxSegments

    bool operator==(const TransferValues &) const = default;
};

class CTransferPage : public QWidget
{
    Q_OBJECT

public:
    explicit CTransferPage(QWidget *parent = nullptr);

    TransferValues values() const { return m_values; }

    void setValues(const TransferValues &values);

    void fillControls();
    // Returns the first box that does not hold an integer (fields unchanged), or null.
    QLineEdit *readControls();

    QLineEdit *maxSpeedEdit() const { return m_maxSpeed; }

    QLineEdit *minSpeedEdit() const { return m_minSpeed; }

    QButtonGroup *conversionGroup() const { return m_conversion; }

    QComboBox *ifExistsBox() const { return m_ifExists; }

    QCheckBox *keepServerTimesBox() const { return m_keepServerTimes; }

    QSpinBox *segmentsBox() const { return m_segments; }

    static constexpr int kMaxSegments = 16;

private:
    TransferValues m_values;
    QLineEdit *m_maxSpeed;
    QLineEdit *m_minSpeed;
    QButtonGroup *m_conversion;
    QComboBox *m_ifExists;
    QCheckBox *m_keepServerTimes;
    QSpinBox *m_segments;
};

} // namespace bw::widgets
