// SPDX-License-Identifier: MIT
// Bellwick's own help window: the manual in a QTextBrowser, for desktops where no web browser opens
// it. Also says so plainly when the manual is not installed. GUI thread only.
#pragma once

#include <functional>

#include <QDialog>
#include <QUrl>

class QLabel;
class QTextBrowser;

namespace bw::ui {

class HelpWindow : public QDialog
{
    Q_OBJECT

public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // Shows the manual file; an empty or missing path shows where the manual should have been.
    void showManual(const QString &manualPath);

    QTextBrowser *browser() const { return m_browser; }

    // A line above the manual saying why it shows here (empty hides it).
    void setNotice(const QString &text);
    QString notice() const;

private:
    QLabel *m_notice;
    QTextBrowser *m_browser;
};

// Help Topics: the manual in the desktop's browser through `openInBrowser`; when that fails or there
// is no manual, in a help window of the program's own (one per `parent`, reused). Returns the help
// window when one is shown, else null.
HelpWindow *showHelpTopics(
    const QString &manualPath, QWidget *parent, const std::function<bool(const QUrl &)> &openInBrowser);

} // namespace bw::ui
