// SPDX-License-Identifier: MIT
// Watches the clipboard and the X11/Wayland selection and hands each new ftp/http URL copied anywhere to
// the queue, at once or after one small non-modal prompt. GUI thread only.
#pragma once

#include <functional>

#include <QClipboard>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QDialog;
class QListWidget;
class QTimer;
class QWidget;

namespace bw::ui {

struct ClipboardOptions
{
    bool monitor = false; // queue the URLs copied anywhere
    bool verify = false; // ask before queueing them
    bool extract = false; // find URLs inside any copied text, not only a text that is one URL
    bool hidePasswords = false; // the prompt shows each URL's password masked
};

class ClipboardWatcher : public QObject
{
    Q_OBJECT

public:
    // `isQueued` says whether a URL is in the queue already; `addUrls` queues URLs. `promptParent`
    // owns the prompt.
    ClipboardWatcher(std::function<bool(const QString &)> isQueued,
        std::function<void(const QStringList &)> addUrls, QWidget *promptParent);
    ~ClipboardWatcher() override;

    void setOptions(const ClipboardOptions &options);

    ClipboardOptions options() const { return m_options; }

    // How long a copied text must stay put before it is read: selecting with the mouse changes the
    // selection at every step, and only the final text is meant.
    void setSettleMs(int ms);

    // The open prompt, or null.
    QDialog *prompt() const { return m_prompt; }

    // The URLs a copied text offers under the current options (before the queue is checked).
    QStringList candidates(const QString &text) const;

signals:
    // URLs went to the queue (directly or from the prompt).
    void urlsQueued(const QStringList &urls);

private:
    void onChanged(QClipboard::Mode mode);
    void readPending();
    void offer(const QStringList &urls);
    void showPrompt(const QStringList &downloads, const QStringList &uploads);
    void acceptPrompt();

    std::function<bool(const QString &)> m_isQueued;
    std::function<void(const QStringList &)> m_addUrls;
    QWidget *m_promptParent;
    ClipboardOptions m_options;
    QTimer *m_settle;
    QSet<QClipboard::Mode> m_pendingModes;
    QString m_lastText[2]; // per mode (clipboard, selection): a text read again is not news
    QDialog *m_prompt = nullptr;
    QListWidget *m_promptList = nullptr;
};

} // namespace bw::ui
