// SPDX-License-Identifier: MIT
// The "General" options page: time-out, retry time, the two thread limits and the retry count. In
// per-site mode (the site list's advanced options) the thread limits are disabled. GUI thread only.
#pragma once

#include <QWidget>

class QLineEdit;

namespace bw::widgets {

struct GeneralValues
{
    int timeout = 0;
    int retryTime = 0;
    int maxThreads = 0;
    int maxThreadsPerSite = 0;
    int maxRetries = 0;

    bool operator==(const GeneralValues &) const = default;
};

class CGeneralPage : public QWidget
{
    Q_OBJECT

public:
    explicit CGeneralPage(bool perSiteMode = false, QWidget *parent = nullptr);

    bool perSiteMode() const { return m_perSiteMode; }

    // The page's fields; the boxes show them from the next fill (the sheet fills when it opens).
    GeneralValues values() const { return m_values; }

    void setValues(const GeneralValues &values);

    // Boxes from fields / fields from boxes. Reading back fails on the first box that does not hold
    // an integer: the fields stay as they were and that box is returned.
    void fillControls();
    QLineEdit *readControls();

    QLineEdit *timeoutEdit() const { return m_timeout; }

    QLineEdit *retryTimeEdit() const { return m_retryTime; }

    QLineEdit *maxThreadsEdit() const { return m_maxThreads; }

    QLineEdit *maxThreadsPerSiteEdit() const { return m_maxThreadsPerSite; }

    QLineEdit *maxRetriesEdit() const { return m_maxRetries; }

private:
    bool m_perSiteMode;
    GeneralValues m_values;
    QLineEdit *m_timeout;
    QLineEdit *m_retryTime;
    QLineEdit *m_maxThreads;
    QLineEdit *m_maxThreadsPerSite;
    QLineEdit *m_maxRetries;
};

} // namespace bw::widgets
