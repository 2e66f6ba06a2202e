// SPDX-License-Identifier: MIT
// The folder box above a file pane: shows the pane's folder, elided in the middle when it is too long
// to fit and not being edited, and takes a typed folder (Enter). GUI thread only.
#pragma once

#include <QLineEdit>

namespace bw::browse {

class PathBox : public QLineEdit
{
    Q_OBJECT

public:
    explicit PathBox(QWidget *parent = nullptr);

    // The whole folder, whatever the box shows.
    QString path() const { return m_path; }

    void setPath(const QString &path);

signals:
    // Enter in the box: the text as typed.
    void pathEntered(const QString &text);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showPath();

    QString m_path;
};

} // namespace bw::browse
