// SPDX-License-Identifier: MIT
// "Trust Host Key..." and "Enter Key Passphrase..." on queue items whose SFTP login was refused.
#include <future>

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
using IdList = QList<std::int32_t>;

namespace {

const QString kSha256 = QStringLiteral("SHA256:nThbg6kXUpJWGl7E1IGOCspRomTxdCARLviKw6E5SY8");
const QString kUnknown = QStringLiteral("Host key unknown: ") + kSha256;

struct Fixture
{
    test::EngineBundle engine;
    CFtpTreeView view{engine.queue, engine.scheduler, engine.document};
    TrustHostKeyCommand *command = view.trustHostKeyCommand();

    Fixture() { view.setKeyPassphrases(engine.transferEngine.keyPassphrases()); }

    std::int32_t addFailed(const std::string &url, const QString &detail,
        core::ItemStatus status = core::ItemStatus::StatusError)
    {
        const std::int32_t id = engine.queue.addItem(url, (engine.downloads() / "a").string());
        engine.queue.setStatus(id, status);
        engine.queue.setStatusDetail(id, detail.toStdString());
        return id;
    }

    std::string detail(std::int32_t id) const
    {
        return core::snapshotOrVanished(engine.queue, id).statusDetail;
    }
};

} // namespace

class TrustHostKeyTest : public QObject
{
    Q_OBJECT

private slots:

    // The dialog defaults to Cancel; the key is recorded on another thread, then the server's refused
    // items are reset.
    void trustingRecordsOffTheGuiThreadAndRunsTheRefusedItemsAgain()
    {
        Fixture f;
        const std::int32_t first = f.addFailed("sftp://joe@h.example:2222/~/a", kUnknown + " (ssh-ed25519)");
        const std::int32_t second = f.addFailed("sftpu://joe@h.example:2222/in/b", kUnknown);
        const std::int32_t otherPort = f.addFailed("sftp://joe@h.example/~/a", kUnknown);
        // Only an unknown key of an SFTP item that no worker holds may be trusted.
        for (const auto &[id, enabled] :
            {std::pair{f.addFailed("sftp://h/a", "Host key changed: SHA256:N"), false},
                std::pair{f.addFailed("ftp://h/a", kUnknown), false},
                std::pair{f.addFailed("sftp://h/a", kUnknown, core::ItemStatus::StatusConnecting), false},
                std::pair{first, true}}) {
            f.view.prepareContextActions(id);
            QCOMPARE(f.command->action()->isEnabled(), enabled);
        }
        QVERIFY(f.view.contextActions().contains(f.command->action()));
        QStringList shown;
        bool accept = false;
        f.command->setDialogRunner([&](TrustHostKeyDialog &dialog) {
            shown.clear();
            for (const char *name : {"server", "sha256", "keyType"})
                shown << dialog.valueLabel(QString::fromLatin1(name))->text();
            shown << QString::number(
                dialog.cancelButton()->isDefault() && !dialog.trustButton()->isDefault());
            (accept ? dialog.trustButton() : dialog.cancelButton())->click();
            return dialog.result();
        });
        std::promise<void> release;
        std::string asked;
        f.command->setTruster([&, released = release.get_future().share()](const std::string &host, int port,
                                  const std::string &user, const std::string &sha256, std::string &) {
            asked = host + " " + std::to_string(port) + " " + user + " " + sha256;
            released.wait(); // the window must not wait here
            return true;
        });
        QSignalSpy finished(f.command, &TrustHostKeyCommand::finished);
        f.command->action()->trigger(); // cancelled: nothing recorded
        QCOMPARE(finished.takeFirst().at(0).toBool(), false);
        accept = true;
        f.command->action()->trigger();
        QVERIFY(f.command->isTrusting() && !f.command->action()->isEnabled());
        release.set_value();
        QVERIFY(finished.wait(10000));
        QCOMPARE(shown, (QStringList{"h.example:2222", kSha256, "ssh-ed25519", "1"}));
        QCOMPARE(asked, "h.example 2222 joe " + kSha256.toStdString());
        QCOMPARE(finished.first().at(0).toBool(), true);
        QCOMPARE(finished.first().at(1).value<IdList>(), (IdList{first, second}));
        QCOMPARE(f.detail(otherPort), kUnknown.toStdString());
    }

    void aKeyThatCannotBeRecordedIsReported()
    {
        Fixture f;
        const std::int32_t id = f.addFailed("sftp://[::1]/~/a", kUnknown);
        f.view.prepareContextActions(id);
        f.command->setDialogRunner([](TrustHostKeyDialog &) { return int(QDialog::Accepted); });
        QString reported;
        f.command->setReporter([&](QWidget *, const QString &text) { reported = text; });
        f.command->setTruster(
            [](const std::string &, int, const std::string &, const std::string &, std::string &error) {
                error = "The server's host key is now SHA256:other";
                return false;
            });
        QSignalSpy finished(f.command, &TrustHostKeyCommand::finished);
        f.command->action()->trigger();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().at(0).toBool(), false);
        QCOMPARE(reported,
            QStringLiteral(
                "The host key of ::1 could not be trusted: The server's host key is now SHA256:other"));
        QCOMPARE(f.detail(id), kUnknown.toStdString());
    }

    void aPassphraseIsKeptAndTheItemsOfItsKeyRunAgain()
    {
        Fixture f;
        const QString keyDetail = QStringLiteral("Key /home/u/id needs its passphrase");
        f.addFailed("sftp://h.example/~/n", "Key  needs its passphrase"); // names no key: not reset
        const std::int32_t first = f.addFailed("sftp://h.example/~/a", keyDetail);
        const std::int32_t sameKey = f.addFailed("sftp://other.example/~/b", keyDetail);
        f.addFailed("sftp://h.example/~/c", "Key /k2 needs its passphrase"); // not reset
        KeyPassphraseCommand *command = f.view.keyPassphraseCommand();
        f.view.prepareContextActions(first);
        QVERIFY(f.view.contextActions().contains(command->action()) && command->action()->isEnabled());
        std::optional<QString> answer;
        command->setAsker(
            [&](QWidget *, const QString &keyPath) { return keyPath == "/home/u/id" ? answer : "?"; });
        engine::KeyPassphrases &stored = f.engine.transferEngine.keyPassphrases();
        QSignalSpy entered(command, &KeyPassphraseCommand::entered);
        command->action()->trigger(); // cancelled: nothing kept, nothing reset
        answer = QStringLiteral("s3cret");
        command->action()->trigger();
        QCOMPARE(stored.find("/home/u/id"), std::string("s3cret"));
        QCOMPARE(entered.count(), 1);
        QCOMPARE(entered.first().at(0).value<IdList>(), (IdList{first, sameKey}));
    }

    // The window asks by itself when an item first stops at a key: once for the key, whatever the
    // number of its items or refreshes, and never again after a cancel.
    void theWindowAsksOncePerKeyAtTheFirstItemThatNeedsIt()
    {
        Fixture f;
        KeyPassphraseCommand *command = f.view.keyPassphraseCommand();
        command->setAskOnFirstNeed(true);
        QStringList asked;
        command->setAsker([&](QWidget *, const QString &keyPath) -> std::optional<QString> {
            asked << keyPath;
            return keyPath == "/k1" ? std::optional<QString>("s3cret") : std::nullopt;
        });
        QSignalSpy entered(command, &KeyPassphraseCommand::entered);
        const std::int32_t first = f.addFailed("sftp://h.example/~/a", "Key /k1 needs its passphrase");
        const std::int32_t second = f.addFailed("sftp://h.example/~/b", "Key /k1 needs its passphrase");
        const std::int32_t cancelled = f.addFailed("sftp://h.example/~/c", "Key /k2 needs its passphrase");
        for (const std::int32_t id : {first, second, cancelled, first, cancelled})
            f.view.refreshItem(id);
        QTRY_COMPARE(asked, QStringList({"/k1", "/k2"}));
        QCOMPARE(f.engine.transferEngine.keyPassphrases().find("/k1"), std::string("s3cret"));
        QCOMPARE(entered.first().at(0).value<IdList>(), (IdList{first, second}));
        f.view.refreshItem(cancelled);
        QCoreApplication::processEvents(); // runs a question queued by the refresh, if any
        QCOMPARE(asked.size(), 2);
    }
};

QTEST_MAIN(TrustHostKeyTest)
#include "trust_host_key_test.moc"
