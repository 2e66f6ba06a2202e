// SPDX-License-Identifier: MIT
// The queue's "Trust Certificate..." command: for an item that failed because the server's certificate
// did not verify, fetches that certificate on a thread of its own (the window never waits on the
// network), shows it, and when the user trusts it stores its fingerprint and sends the server's
// refused items round again. Lives on the GUI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include <QList>
#include <QObject>
#include <QString>

#include "net/certificate_probe.h"

class QAction;
class QWidget;

namespace bw::core {
class QueueItem;
class QueueList;
} // namespace bw::core

namespace bw::engine {
class CertificateTrustStore;
}

namespace bw::ui {

class TrustCertificateDialog;

class TrustCertificateCommand : public QObject
{
    Q_OBJECT

public:
    // Runs the dialog and returns its result (tests answer it); empty: the modal dialog.
    using DialogRunner = std::function<int(TrustCertificateDialog &)>;
    // Tells the user why the command could not go on; empty: a message box.
    using Reporter = std::function<void(QWidget *parent, const QString &text)>;

    TrustCertificateCommand(
        core::QueueList &queue, engine::CertificateTrustStore &store, QWidget *dialogParent);
    // Stops a fetch under way and waits for its thread.
    ~TrustCertificateCommand() override;

    // An item whose TLS connection failed its certificate check, and that no worker holds.
    static bool canTrust(const core::QueueItem &item);

    QAction *action() const { return m_action; }

    // The item the command works on (the context menu's row); enables the action when it may run.
    void setItem(std::int32_t itemId);

    bool isFetching() const { return m_fetching; }

    // Starts fetching the item's certificate; the dialog follows when it has come.
    void run();

    void setDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }

    void setReporter(Reporter reporter) { m_report = std::move(reporter); }

signals:
    // The command has ended: the certificate trusted (and these items reset), or not.
    void finished(bool trusted, const QList<std::int32_t> &resetItems);

private:
    void onFetched(std::int32_t itemId, const net::CertificateProbeResult &result);
    void finish(bool trusted, const QList<std::int32_t> &resetItems = {});
    QList<std::int32_t> resetRefusedItems(const std::string &host, std::int32_t port);
    void report(const QString &text);

    core::QueueList &m_queue;
    engine::CertificateTrustStore &m_store;
    QWidget *m_dialogParent;
    QAction *m_action;
    DialogRunner m_runDialog;
    Reporter m_report;
    std::int32_t m_itemId = 0;
    bool m_fetching = false;
    std::unique_ptr<net::CertificateProbe> m_probe; // used by m_fetch's thread, aborted from here
    std::jthread m_fetch; // declared last: joined before the probe goes
};

} // namespace bw::ui
