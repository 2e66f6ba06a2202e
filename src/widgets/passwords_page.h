// SPDX-License-Identifier: MIT
// The "Passwords" options page: where Bellwick keeps the passwords of queued URLs and saved sites (the
// desktop keyring, or this computer's files when there is none), and a box to keep them in the files
// anyway. GUI thread only.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;

namespace bw::widgets {

class CPasswordsPage : public QWidget
{
    Q_OBJECT

public:
    explicit CPasswordsPage(QWidget *parent = nullptr);

    // Whether a desktop keyring answered; the page says where the passwords are kept.
    void setKeyringFound(bool found);

    bool keepInFiles() const;
    void setKeepInFiles(bool keep);

    QLabel *whereLabel() const { return m_where; }

private:
    QLabel *m_where;
    QLabel *m_warning;
    QCheckBox *m_keepInFiles;
};

} // namespace bw::widgets
