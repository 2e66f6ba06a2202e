// SPDX-License-Identifier: MIT
// The queue's "Trust Host Key..." command: for an SFTP item refused because the server's host key is not
// among the known hosts, shows the key the item reported and, when the user accepts it, records it on
// a thread of its own (the window never waits on the network) and sends the server's refused items
// round again. A changed key gets no command. Lives on the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QWidget;

namespace bw::core {
class QueueItem;
class QueueList;
} // namespace bw::core

namespace bw::ui {

class TrustHostKeyDialog;

class TrustHostKeyCommand : public QObject
{
    Q_OBJECT

public:
    // Runs the dialog and returns its result (tests answer it); empty: the modal dialog.
    using DialogRunner = std::function<int(TrustHostKeyDialog &)>;
    // Tells the user why the key could not be recorded; empty: a message box.
    using Reporter = std::function<void(QWidget *parent, const QString &text)>;
    // Records the key; called on the command's own thread. Empty: engine::trustHostKey.
    using Truster = std::function<bool(const std::string &host, int port, const std::string &user,
        const std::string &sha256, std::string &error)>;

    TrustHostKeyCommand(core::QueueList &queue, QWidget *dialogParent);
    // Waits for a recording under way.
    ~TrustHostKeyCommand() override;

    // An SFTP item refused for an unknown (not a changed) host key, that no worker holds.
    static bool canTrust(const core::QueueItem &item);

    QAction *action() const { return m_action; }

    // The item the command works on (the context menu's row); enables the action when it may run.
    void setItem(std::int32_t itemId);

    bool isTrusting() const { return m_trusting; }

    // Shows the dialog; on acceptance the key is recorded off the GUI thread.
    void run();

    void setDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }

    void setReporter(Reporter reporter) { m_report = std::move(reporter); }

    void setTruster(Truster truster) { m_truster = std::move(truster); }

signals:
    // The command has ended: the key recorded (and these items reset), or not.
    void finished(bool trusted, const QList<std::int32_t> &resetItems);

private:
    void onRecorded(const std::string &host, std::int32_t port, bool recorded, const std::string &error);
    void finish(bool trusted, const QList<std::int32_t> &resetItems = {});
    QList<std::int32_t> resetRefusedItems(const std::string &host, std::int32_t port);
    void report(const QString &text);

    core::QueueList &m_queue;
    QWidget *m_dialogParent;
    QAction *m_action;
    DialogRunner m_runDialog;
    Reporter m_report;
    Truster m_truster;
    std::int32_t m_itemId = 0;
    bool m_trusting = false;
    std::jthread m_record; // declared last: joined before the rest goes
};

} // namespace bw::ui
