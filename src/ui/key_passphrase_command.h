// SPDX-License-Identifier: MIT
// The queue's "Enter Key Passphrase..." command: for an item whose login stopped at a private key that
// needs its passphrase, asks for it (hidden as it is typed), keeps it in memory for this run and sends
// the items that waited for that key round again. With asking on first need, the window asks by itself
// as soon as an item first stops at a key, once per key and run. Lives on the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QWidget;

namespace bw::core {
class QueueItem;
class QueueList;
} // namespace bw::core

namespace bw::engine {
class KeyPassphrases;
}

namespace bw::ui {

class KeyPassphraseCommand : public QObject
{
    Q_OBJECT

public:
    // Asks for the passphrase of `keyPath`; nothing when the user cancelled. Empty: a password dialog.
    using Asker = std::function<std::optional<QString>(QWidget *parent, const QString &keyPath)>;

    KeyPassphraseCommand(core::QueueList &queue, engine::KeyPassphrases &passphrases, QWidget *dialogParent);

    // An item that stopped at a key's passphrase and that no worker holds.
    static bool canEnter(const core::QueueItem &item);

    QAction *action() const { return m_action; }

    // The item the command works on (the context menu's row); enables the action when it may run.
    void setItem(std::int32_t itemId);

    void run();

    // The window asks by itself the first time an item stops at each key (off: only the command asks).
    void setAskOnFirstNeed(bool ask) { m_askOnFirstNeed = ask; }

    // An item's row changed: when it stopped at a key not asked about yet, the question follows from
    // the event loop (not inside the caller's refresh).
    void offer(const core::QueueItem &item);

    void setAsker(Asker asker) { m_ask = std::move(asker); }

signals:
    // A passphrase was stored and these items reset.
    void entered(const QList<std::int32_t> &resetItems);

private:
    void askFor(std::int32_t itemId);

    core::QueueList &m_queue;
    engine::KeyPassphrases &m_passphrases;
    QWidget *m_dialogParent;
    QAction *m_action;
    Asker m_ask;
    std::int32_t m_itemId = 0;
    bool m_askOnFirstNeed = false;
    std::set<std::string> m_askedKeys; // asked by themselves this run, answered or not
};

} // namespace bw::ui
