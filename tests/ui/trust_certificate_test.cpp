// SPDX-License-Identifier: MIT
// "Trust Certificate..." on a queue item against the real nginx TLS test server, whose certificate comes
// from a test CA that is not trusted here: the command's enabling, the certificate fetched off the GUI
// thread, the dialog's values, trusting (the item then downloads) and cancelling (nothing changes).
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "engine/certificate_trust_store.h"
#include "support/temp_dir.h"
#include "support/tls_test_servers.h"
#include "ui/queue_view.h"
#include "ui/trust_certificate_command.h"
#include "ui/trust_certificate_dialog.h"
#include "widgets/tiled_list_ctrl.h"
#include "window_fixture.h"

using namespace bw;
using namespace bw::ui;

namespace {

const QString kRefusal = QStringLiteral("Certificate verification failed: unknown certificate authority");

struct Fixture
{
    test::TlsServers servers = test::tlsServers();
    test::TempDir emptyFolder;
    test::EngineBundle engine;
    CFtpTreeView view{engine.queue, engine.scheduler, engine.document};
    engine::CertificateTrustStore &store = engine.transferEngine.trustStore();

    Fixture()
    {
        test::trustOnly("", emptyFolder.path().string());
        view.setTrustStore(store);
    }

    std::int32_t addHttps(const std::string &path, const std::string &localName)
    {
        return engine.queue.addItem("https://127.0.0.1:" + std::to_string(servers.httpsPort) + path,
            (engine.downloads() / localName).string());
    }

    core::QueueItem item(std::int32_t id) const { return core::snapshotOrVanished(engine.queue, id); }

    TrustCertificateCommand *command() const { return view.trustCommand(); }

    // The row tooltip of the item, from whichever tab shows it.
    QString toolTip(std::int32_t id) const
    {
        for (int tab = 0; tab < kQueueTabCount; ++tab) {
            TiledListCtrl *list = view.list(static_cast<QueueTab>(tab));
            const int row = list->findItemId(id);
            if (row >= 0)
                return view.rowToolTip(list, row);
        }
        return {};
    }
};

// What the dialog showed, read from its labels.
struct ShownCertificate
{
    QString subject, issuer, validFrom, validUntil, sha256, failure;

    void read(const TrustCertificateDialog &dialog)
    {
        subject = dialog.valueLabel(QStringLiteral("subject"))->text();
        issuer = dialog.valueLabel(QStringLiteral("issuer"))->text();
        validFrom = dialog.valueLabel(QStringLiteral("validFrom"))->text();
        validUntil = dialog.valueLabel(QStringLiteral("validUntil"))->text();
        sha256 = dialog.valueLabel(QStringLiteral("sha256"))->text();
        failure = dialog.valueLabel(QStringLiteral("failure"))->text();
    }
};

} // namespace

class TrustCertificateTest : public QObject
{
    Q_OBJECT

private slots:
    void enabledOnlyForCertificateRefusals_data();
    void enabledOnlyForCertificateRefusals();
    void trustingRunsTheRefusedItemAgain();
    void cancellingTrustsNothing();
    void anUnreachableServerIsReported();
};

void TrustCertificateTest::enabledOnlyForCertificateRefusals_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("enabled");
    const int error = int(core::ItemStatus::StatusError);
    QTest::newRow("https refused") << "https://h.example/a" << error << kRefusal << true;
    QTest::newRow("ftpes refused") << "ftpes://h.example/a" << error << kRefusal << true;
    QTest::newRow("ftpsu refused") << "ftpsu://h.example/a" << error << kRefusal << true;
    QTest::newRow("https other failure")
        << "https://h.example/a" << int(core::ItemStatus::StatusTransferFailed) << "404 Not Found" << false;
    QTest::newRow("https no detail") << "https://h.example/a" << error << "" << false;
    QTest::newRow("plain http") << "http://h.example/a" << error << kRefusal << false;
    QTest::newRow("running") << "https://h.example/a" << int(core::ItemStatus::StatusConnecting) << kRefusal
                             << false;
    QTest::newRow("finished") << "https://h.example/a" << int(core::ItemStatus::StatusFinished) << kRefusal
                              << false;
}

void TrustCertificateTest::enabledOnlyForCertificateRefusals()
{
    QFETCH(QString, url);
    QFETCH(int, status);
    QFETCH(QString, detail);
    QFETCH(bool, enabled);
    Fixture f;
    const std::int32_t id = f.engine.queue.addItem(url.toStdString(), (f.engine.downloads() / "a").string());
    f.engine.queue.setStatus(id, static_cast<core::ItemStatus>(status));
    f.engine.queue.setStatusDetail(id, detail.toStdString());
    f.view.refreshItem(id);
    f.view.prepareContextActions(id);
    QVERIFY(f.view.contextActions().contains(f.command()->action()));
    QCOMPARE(f.command()->action()->isEnabled(), enabled);
    QCOMPARE(f.command()->action()->text(), QStringLiteral("Trust Certificate..."));
    // The reason is in the row's tooltip.
    if (!detail.isEmpty())
        QVERIFY2(f.toolTip(id).contains(detail), qPrintable(f.toolTip(id)));
}

void TrustCertificateTest::trustingRunsTheRefusedItemAgain()
{
    Fixture f;
    QVERIFY2(f.servers.httpsPort != 0, "the nginx TLS test server is needed");
    const std::int32_t id = f.addHttps("/files/a.bin", "a.bin");
    QVERIFY(f.engine.scheduler.startScheduler());
    // The engine refuses the certificate and says why, in the row's tooltip too.
    QTRY_VERIFY_WITH_TIMEOUT(TrustCertificateCommand::canTrust(f.item(id)), 30000);
    f.view.refreshItem(id);
    QVERIFY2(f.toolTip(id).contains(kRefusal), qPrintable(f.toolTip(id)));

    f.view.prepareContextActions(id);
    QVERIFY(f.command()->action()->isEnabled());
    ShownCertificate shown;
    bool dialogShown = false;
    f.command()->setDialogRunner([&](TrustCertificateDialog &dialog) {
        dialogShown = true;
        shown.read(dialog);
        dialog.trustButton()->click();
        return dialog.result();
    });
    QSignalSpy finished(f.command(), &TrustCertificateCommand::finished);
    f.command()->action()->trigger();
    // The fetch runs on its own thread: the GUI thread is back at once, the command busy.
    QVERIFY(f.command()->isFetching());
    QVERIFY(!f.command()->action()->isEnabled());
    QVERIFY(!dialogShown);
    QVERIFY(finished.wait(30000));
    QVERIFY(dialogShown);
    QCOMPARE(finished.first().at(0).toBool(), true);

    QCOMPARE(shown.failure, kRefusal);
    QVERIFY(shown.subject.contains(QStringLiteral("CN")));
    QVERIFY(!shown.issuer.isEmpty());
    QVERIFY(shown.validFrom.contains(QStringLiteral("GMT")));
    QVERIFY(shown.validUntil.contains(QStringLiteral("GMT")));
    QCOMPARE(shown.sha256.size(), 95);
    QCOMPARE(
        QString::fromStdString(f.store.trustedFingerprint("127.0.0.1", f.servers.httpsPort)), shown.sha256);

    // The item goes round again at once and downloads.
    QTRY_COMPARE_WITH_TIMEOUT(int(f.item(id).status), int(core::ItemStatus::StatusFinished), 30000);
    QCOMPARE(test::readFile(f.engine.downloads() / "a.bin"),
        test::readFile(std::filesystem::path(f.servers.httpsRoot) / "files/a.bin"));
}

void TrustCertificateTest::cancellingTrustsNothing()
{
    Fixture f;
    QVERIFY2(f.servers.httpsPort != 0, "the nginx TLS test server is needed");
    const std::int32_t id = f.addHttps("/files/a.bin", "a.bin");
    f.engine.queue.setStatus(id, core::ItemStatus::StatusError);
    f.engine.queue.setStatusDetail(id, kRefusal.toStdString());
    f.view.prepareContextActions(id);
    ShownCertificate shown;
    f.command()->setDialogRunner([&](TrustCertificateDialog &dialog) {
        shown.read(dialog);
        dialog.cancelButton()->click();
        return dialog.result();
    });
    QSignalSpy finished(f.command(), &TrustCertificateCommand::finished);
    f.command()->action()->trigger();
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.first().at(0).toBool(), false);
    QCOMPARE(shown.sha256.size(), 95);
    QCOMPARE(shown.failure, kRefusal);
    QCOMPARE(f.store.trustedFingerprint("127.0.0.1", f.servers.httpsPort), std::string());
    QCOMPARE(int(f.item(id).status), int(core::ItemStatus::StatusError));
    QCOMPARE(QString::fromStdString(f.item(id).statusDetail), kRefusal);
    QVERIFY(f.command()->action()->isEnabled()); // it may be asked again
}

void TrustCertificateTest::anUnreachableServerIsReported()
{
    Fixture f;
    // Nothing listens on port 1; the command says so and shows no dialog.
    const std::int32_t id =
        f.engine.queue.addItem("https://127.0.0.1:1/a", (f.engine.downloads() / "a").string());
    f.engine.queue.setStatus(id, core::ItemStatus::StatusError);
    f.engine.queue.setStatusDetail(id, kRefusal.toStdString());
    f.view.prepareContextActions(id);
    QString reported;
    bool dialogShown = false;
    f.command()->setReporter([&](QWidget *, const QString &text) { reported = text; });
    f.command()->setDialogRunner([&](TrustCertificateDialog &) {
        dialogShown = true;
        return int(QDialog::Rejected);
    });
    QSignalSpy finished(f.command(), &TrustCertificateCommand::finished);
    f.command()->action()->trigger();
    QVERIFY(finished.wait(30000));
    QVERIFY(!dialogShown);
    QVERIFY2(reported.startsWith(
                 QStringLiteral("The certificate of 127.0.0.1 could not be fetched: Cannot connect")),
        qPrintable(reported));
}

QTEST_MAIN(TrustCertificateTest)
#include "trust_certificate_test.moc"
