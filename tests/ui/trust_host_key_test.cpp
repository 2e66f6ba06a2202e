// SPDX-License-Identifier: MIT
// "Trust Host Key..." and "Enter Key Passphrase..." on queue items whose SFTP login was refused: the
// commands' enabling, the dialog's values and default, the key recorded off the GUI thread, and the
// refused items sent round again.
#include <atomic>
#include <future>
#include <thread>

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "engine/key_passphrases.h"
#include "ui/key_passphrase_command.h"
#include "ui/queue_view.h"
#include "ui/trust_host_key_command.h"
#include "ui/trust_host_key_dialog.h"
#include "window_fixture.h"

using namespace bw;
using namespace bw::ui;

namespace {

const QString kUnknown =
    QStringLiteral("Host key unknown: SHA256:nThbg6kXUpJWGl7E1IGOCspRomTxdCARLviKw6E5SY8");
const QString kKeyDetail = QStringLiteral("Key /home/u/.ssh/id_ed25519 needs its passphrase");

struct Fixture
{
    test::EngineBundle engine;
    CFtpTreeView view{engine.queue, engine.scheduler, engine.document};

    Fixture() { view.setKeyPassphrases(engine.transferEngine.keyPassphrases()); }

    std::int32_t addFailed(const std::string &url, const QString &detail,
        core::ItemStatus status = core::ItemStatus::StatusError)
    {
        const std::int32_t id = engine.queue.addItem(url, (engine.downloads() / "a").string());
        engine.queue.setStatus(id, status);
        engine.queue.setStatusDetail(id, detail.toStdString());
        view.refreshItem(id);
        return id;
    }

    core::QueueItem item(std::int32_t id) const { return core::snapshotOrVanished(engine.queue, id); }

    TrustHostKeyCommand *command() const { return view.trustHostKeyCommand(); }
};

} // namespace

class TrustHostKeyTest : public QObject
{
    Q_OBJECT

private slots:
    void enabledOnlyForUnknownHostKeys_data();
    void enabledOnlyForUnknownHostKeys();
    void trustingRecordsOffTheGuiThreadAndRunsTheRefusedItemsAgain();
    void cancellingRecordsNothing();
    void aKeyThatCannotBeRecordedIsReported();
    void aPassphraseIsKeptAndTheItemsOfItsKeyRunAgain();
};

void TrustHostKeyTest::enabledOnlyForUnknownHostKeys_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("enabled");
    const int error = int(core::ItemStatus::StatusError);
    QTest::newRow("sftp unknown") << "sftp://u@h.example/~/a" << error << kUnknown << true;
    QTest::newRow("sftpu unknown") << "sftpu://u@h.example/in/a" << error << kUnknown << true;
    QTest::newRow("sftp changed") << "sftp://u@h.example/a" << error
                                  << "Host key changed: SHA256:New, known SHA256:Old" << false;
    QTest::newRow("sftp other failure") << "sftp://u@h.example/a" << error << "Login incorrect" << false;
    QTest::newRow("ftp with such a detail") << "ftp://h.example/a" << error << kUnknown << false;
    QTest::newRow("running") << "sftp://h.example/a" << int(core::ItemStatus::StatusConnecting) << kUnknown
                             << false;
    QTest::newRow("finished") << "sftp://h.example/a" << int(core::ItemStatus::StatusFinished) << kUnknown
                              << false;
}

void TrustHostKeyTest::enabledOnlyForUnknownHostKeys()
{
    QFETCH(QString, url);
    QFETCH(int, status);
    QFETCH(QString, detail);
    QFETCH(bool, enabled);
    Fixture f;
    const std::int32_t id = f.addFailed(url.toStdString(), detail, static_cast<core::ItemStatus>(status));
    f.view.prepareContextActions(id);
    QVERIFY(f.view.contextActions().contains(f.command()->action()));
    QCOMPARE(f.command()->action()->isEnabled(), enabled);
    QCOMPARE(f.command()->action()->text(), QStringLiteral("Trust Host Key..."));
    QCOMPARE(f.view.contextActions().last()->text(), QStringLiteral("Delete"));
    // The passphrase command has nothing to do with a host key.
    QVERIFY(!f.view.keyPassphraseCommand()->action()->isEnabled());
}

void TrustHostKeyTest::trustingRecordsOffTheGuiThreadAndRunsTheRefusedItemsAgain()
{
    Fixture f;
    const std::int32_t first = f.addFailed("sftp://joe@h.example:2222/~/a", kUnknown);
    const std::int32_t second = f.addFailed("sftpu://joe@h.example:2222/in/b", kUnknown);
    const std::int32_t otherPort = f.addFailed("sftp://joe@h.example/~/a", kUnknown);
    f.view.prepareContextActions(first);

    QString shownServer, shownSha256, shownKeyType;
    bool cancelIsDefault = false;
    f.command()->setDialogRunner([&](TrustHostKeyDialog &dialog) {
        shownServer = dialog.valueLabel(QStringLiteral("server"))->text();
        shownSha256 = dialog.valueLabel(QStringLiteral("sha256"))->text();
        shownKeyType = dialog.valueLabel(QStringLiteral("keyType"))->text();
        cancelIsDefault = dialog.cancelButton()->isDefault() && !dialog.trustButton()->isDefault();
        dialog.trustButton()->click();
        return dialog.result();
    });
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> onGuiThread{true};
    std::string asked;
    f.command()->setTruster([&, released](const std::string &host, int port, const std::string &user,
                                const std::string &sha256, std::string &) {
        onGuiThread = QThread::currentThread() == qApp->thread();
        asked = host + " " + std::to_string(port) + " " + user + " " + sha256;
        released.wait();
        return true;
    });
    QSignalSpy finished(f.command(), &TrustHostKeyCommand::finished);
    f.command()->action()->trigger();
    // The window is back at once while the key is recorded; the command is busy meanwhile.
    QVERIFY(f.command()->isTrusting());
    QVERIFY(!f.command()->action()->isEnabled());
    QCOMPARE(finished.count(), 0);
    release.set_value();
    QVERIFY(finished.wait(10000));

    QVERIFY(!onGuiThread);
    QCOMPARE(asked, "h.example 2222 joe " + kUnknown.mid(18).toStdString());
    QCOMPARE(shownServer, QStringLiteral("h.example:2222"));
    QCOMPARE(shownSha256, kUnknown.mid(18));
    QCOMPARE(shownKeyType, QStringLiteral("(not known)"));
    QVERIFY(cancelIsDefault);
    QCOMPARE(finished.first().at(0).toBool(), true);
    QCOMPARE(finished.first().at(1).value<QList<std::int32_t>>(), (QList<std::int32_t>{first, second}));
    for (const std::int32_t id : {first, second}) {
        QCOMPARE(int(f.item(id).status), int(core::ItemStatus::StatusIdle));
        QCOMPARE(f.item(id).statusDetail, std::string());
    }
    QCOMPARE(f.item(otherPort).statusDetail, kUnknown.toStdString());
}

void TrustHostKeyTest::cancellingRecordsNothing()
{
    Fixture f;
    const QString typed = kUnknown + QStringLiteral(" (ssh-ed25519)");
    const std::int32_t id = f.addFailed("sftp://[::1]/~/a", typed);
    f.view.prepareContextActions(id);
    QString shownKeyType, shownServer;
    f.command()->setDialogRunner([&](TrustHostKeyDialog &dialog) {
        shownKeyType = dialog.valueLabel(QStringLiteral("keyType"))->text();
        shownServer = dialog.valueLabel(QStringLiteral("server"))->text();
        dialog.cancelButton()->click();
        return dialog.result();
    });
    bool called = false;
    f.command()->setTruster(
        [&](const std::string &, int, const std::string &, const std::string &, std::string &) {
            called = true;
            return true;
        });
    QSignalSpy finished(f.command(), &TrustHostKeyCommand::finished);
    f.command()->action()->trigger();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).toBool(), false);
    QVERIFY(!called);
    QCOMPARE(shownKeyType, QStringLiteral("ssh-ed25519"));
    QCOMPARE(shownServer, QStringLiteral("[::1]:22"));
    QCOMPARE(f.item(id).statusDetail, typed.toStdString());
    QVERIFY(f.command()->action()->isEnabled()); // it may be asked again
}

void TrustHostKeyTest::aKeyThatCannotBeRecordedIsReported()
{
    Fixture f;
    const std::int32_t id = f.addFailed("sftp://h.example/~/a", kUnknown);
    f.view.prepareContextActions(id);
    f.command()->setDialogRunner([](TrustHostKeyDialog &dialog) {
        dialog.trustButton()->click();
        return dialog.result();
    });
    QString reported;
    f.command()->setReporter([&](QWidget *, const QString &text) { reported = text; });
    QSignalSpy finished(f.command(), &TrustHostKeyCommand::finished);
    f.command()->action()->trigger();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().at(0).toBool(), false);
    QCOMPARE(reported,
        QStringLiteral(
            "The host key of h.example could not be trusted: SFTP is not available in this build"));
    QCOMPARE(int(f.item(id).status), int(core::ItemStatus::StatusError));
}

void TrustHostKeyTest::aPassphraseIsKeptAndTheItemsOfItsKeyRunAgain()
{
    Fixture f;
    const std::int32_t first = f.addFailed("sftp://h.example/~/a", kKeyDetail);
    const std::int32_t sameKey = f.addFailed("sftp://other.example/~/b", kKeyDetail);
    const std::int32_t otherKey = f.addFailed("sftp://h.example/~/c", "Key /k2 needs its passphrase");
    KeyPassphraseCommand *command = f.view.keyPassphraseCommand();
    QVERIFY(f.view.contextActions().contains(command->action()));
    f.view.prepareContextActions(first);
    QVERIFY(command->action()->isEnabled());
    QCOMPARE(command->action()->text(), QStringLiteral("Enter Key Passphrase..."));
    QVERIFY(!f.command()->action()->isEnabled());

    int asked = 0;
    std::optional<QString> answer;
    QString askedKey;
    command->setAsker([&](QWidget *, const QString &keyPath) {
        ++asked;
        askedKey = keyPath;
        return answer;
    });
    command->action()->trigger(); // cancelled
    engine::KeyPassphrases &stored = f.engine.transferEngine.keyPassphrases();
    QCOMPARE(stored.find("/home/u/.ssh/id_ed25519"), std::nullopt);
    QCOMPARE(f.item(first).statusDetail, kKeyDetail.toStdString());

    answer = QStringLiteral("s3cret");
    QSignalSpy entered(command, &KeyPassphraseCommand::entered);
    command->action()->trigger();
    QCOMPARE(asked, 2);
    QCOMPARE(askedKey, QStringLiteral("/home/u/.ssh/id_ed25519"));
    QCOMPARE(stored.find("/home/u/.ssh/id_ed25519"), std::string("s3cret"));
    QCOMPARE(entered.count(), 1);
    QCOMPARE(entered.first().at(0).value<QList<std::int32_t>>(), (QList<std::int32_t>{first, sameKey}));
    QCOMPARE(int(f.item(sameKey).status), int(core::ItemStatus::StatusIdle));
    QCOMPARE(f.item(otherKey).statusDetail, std::string("Key /k2 needs its passphrase"));
    QVERIFY(!command->action()->isEnabled()); // the item waits for its turn now
}

QTEST_MAIN(TrustHostKeyTest)
#include "trust_host_key_test.moc"
