// SPDX-License-Identifier: MIT
// A whole manual session against the loopback vsftpd: the Connect request is queued, a worker logs in
// and lends its connection, the queue view hands it to the remote browser, and the user browses,
// creates, renames, deletes, moves files both ways (directly and by the panes' drops) and disconnects.
// Needs BW_TEST_FTP_* (scripts/test starts the server); fails without it.
#include <filesystem>

#include <unistd.h>

#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/glue/bellwick_doc.h"
#include "browse/drag_text.h"
#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "browse/site_dialog.h"
#include "core/queue_list.h"
#include "core/queue_notifier.h"
#include "engine/connection_lease.h"
#include "engine/scheduler.h"
#include "net/error_code.h"
#include "net/remote_session.h"
#include "support/manual_pane_timing.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "ui/queue_view.h"
#include "widgets/internal_drag_data.h"
#include "widgets/row_texts.h"
#include "widgets/transfer_progress_dialog.h"
#include "widgets/url_text.h"

using namespace bw::browse;
using bw::test::rowTexts;
namespace fs = std::filesystem;

namespace {

constexpr int kLimitMs = 20000;

void makeShared(const fs::path &path)
{
    fs::permissions(path, fs::is_directory(path) ? fs::perms::all : fs::perms(0666));
}

} // namespace

class ManualSessionTest : public QObject
{
    Q_OBJECT

private:
    // The session offered for `id` went back to its job (or is no longer offered).
    bool givenBack(std::int32_t id) const
    {
        const auto lease = m_leases.find(id);
        return !lease || lease->hasEnded();
    }

    bw::test::TempDir m_dir;
    bw::test::FtpServer m_server;
    fs::path m_remoteHome; // our own folder on the server, as a local path
    std::string m_remoteName; // and as the server names it
    bw::core::QueueList m_queue;
    bw::engine::LeaseBoard m_leases; // before the scheduler, whose jobs offer their sessions on it
    bw::engine::Scheduler m_scheduler{bw::test::fastPasses(), bw::test::offeringOn(m_leases)};
    std::unique_ptr<bw::app::CBellwickDoc> m_document;
    std::unique_ptr<bw::ui::CFtpTreeView> m_queueView;
    std::unique_ptr<CManFtpView> m_remote;
    std::unique_ptr<CLocalView> m_local;
    QStringList m_log;
    QStringList m_answers;
    QStringList m_questions; // what confirm asked
    bool m_confirmAnswer = true;
    std::int32_t m_item = 0;
    std::unique_ptr<QSignalSpy> m_transfers; // the remote browser's transferFinished

    BrowsePrompts prompts()
    {
        BrowsePrompts p;
        p.confirm = [this](QWidget *, const QString &question, const QString &) {
            m_questions << question;
            return m_confirmAnswer;
        };
        p.askName = [this](QWidget *, const QString &, const QString &,
                        const QString &) -> std::optional<QString> {
            if (m_answers.isEmpty())
                return std::nullopt;
            return m_answers.takeFirst();
        };
        p.openUrl = [](const QUrl &) {
        };
        return p;
    }

    int listCommands() const
    {
        int count = 0;
        for (const QString &line : m_log)
            count += line.startsWith(QStringLiteral("sent:LIST")) ? 1 : 0;
        return count;
    }

    bool selectOnly(const QString &name)
    {
        const int row = m_remote->rowOf(name);
        if (row < 0)
            return false;
        m_remote->list()->selectRow(row, true);
        return true;
    }

    // Waits until the remote browser has run every queued command; the outcomes of the direct
    // transfers that ended since the last call, in order.
    QList<bool> settle()
    {
        if (!QTest::qWaitFor([&] { return !m_remote->isBusy(); }, kLimitMs))
            return {false, false, false}; // no outcome list a test expects
        QList<bool> outcomes;
        for (const QList<QVariant> &signal : std::as_const(*m_transfers))
            outcomes << signal.at(1).toBool();
        m_transfers->clear();
        return outcomes;
    }

    std::int32_t connectAndHandOver()
    {
        SiteOptions options;
        options.retryTime = 0;
        options.passive = 1;
        const std::int32_t id = queueManualConnection(
            m_queue, m_server.user, m_server.password, m_server.host, m_server.port, options);
        if (id == 0)
            return 0;
        // The queue view hands a pending manual connection over when it refreshes the item's row.
        const bool handed = QTest::qWaitFor(
            [&] {
                m_queueView->refreshItem(id);
                return m_remote->isConnected();
            },
            kLimitMs);
        return handed && settle().isEmpty() ? id : 0;
    }

private slots:

    void initTestCase()
    {
        m_server = bw::test::ftpServer();
        QVERIFY2(m_server.port != 0, "the test FTP server is not running (BW_TEST_FTP_PORT unset)");
        m_remoteName = "h7-browse-" + std::to_string(::getpid());
        m_remoteHome = fs::path(m_server.root) / m_remoteName;
        fs::remove_all(m_remoteHome);
        fs::create_directories(m_remoteHome / "sub");
        bw::test::writeFile(m_remoteHome / "hello.txt", bw::test::patternBytes(100000, 3));
        bw::test::writeFile(m_remoteHome / "second.bin", bw::test::patternBytes(70000, 4));
        bw::test::writeFile(m_remoteHome / "sub" / "inner.txt", "inner");
        for (const fs::path &path : {m_remoteHome, m_remoteHome / "sub", m_remoteHome / "hello.txt",
                 m_remoteHome / "second.bin", m_remoteHome / "sub" / "inner.txt"})
            makeShared(path);
        fs::create_directories(m_dir / "local");

        m_scheduler.setQueue(&m_queue);
        m_document = std::make_unique<bw::app::CBellwickDoc>(m_queue);
        m_queueView = std::make_unique<bw::ui::CFtpTreeView>(m_queue, m_scheduler, *m_document);
        m_remote = std::make_unique<CManFtpView>(m_queue, m_leases);
        m_transfers = std::make_unique<QSignalSpy>(m_remote.get(), &CManFtpView::transferFinished);
        m_local = std::make_unique<CLocalView>();
        m_local->setDirectory((m_dir / "local").string());
        m_queueView->setRemoteBrowser(m_remote.get());
        m_remote->setLocalView(m_local.get());
        m_local->setRemoteBrowser(m_remote.get());
        m_remote->setPrompts(prompts());
        m_local->setPrompts(prompts());
        connect(m_remote.get(), &CManFtpView::logLine, this,
            [this](unsigned message, quint64 thread, const QString &text) {
                QCOMPARE(thread, quint64(0));
                const char *kind = message == bw::core::kWmLogSent ? "sent:"
                    : message == bw::core::kWmLogReceived          ? "received:"
                                                                   : "status:";
                m_log << QString::fromLatin1(kind) + text;
            });
        QVERIFY(m_scheduler.startScheduler());
    }

    void cleanupTestCase()
    {
        m_transfers.reset();
        m_remote.reset();
        m_scheduler.stop();
        m_scheduler.waitUntilStopped();
        std::error_code error;
        fs::remove_all(m_remoteHome, error);
    }

    void connectHandsTheConnectionOver()
    {
        m_item = connectAndHandOver();
        QVERIFY(m_item != 0);
        QCOMPARE(bw::core::snapshotOrVanished(m_queue, m_item).status,
            bw::core::ItemStatus::StatusActiveManualConnection);
        QVERIFY(
            m_remote->connection() != nullptr && m_leases.find(m_item) && m_leases.find(m_item)->isHeld());
        QCOMPARE(m_remote->list()->itemText(0, 0), QStringLiteral(".."));
        QCOMPARE(m_remote->directoryBox()->text(), QStringLiteral("/"));
        QVERIFY(rowTexts(*m_remote).contains(QString::fromStdString(m_remoteName)));
        QVERIFY(m_log.contains(QStringLiteral("sent:PWD")));
        QVERIFY(listCommands() == 1);
    }

    void browseAndComeBackFromTheCache()
    {
        QVERIFY(m_remote->isConnected());
        m_answers = {QStringLiteral("/") + QString::fromStdString(m_remoteName)};
        m_remote->changeDirectory();
        QVERIFY(settle().isEmpty());
        QCOMPARE(m_remote->currentDirectoryPath(), "/" + m_remoteName + "/");
        QCOMPARE(rowTexts(*m_remote), QStringList({"..", "sub", "hello.txt", "second.bin"}));
        const int hello = m_remote->rowOf(QStringLiteral("hello.txt"));
        QCOMPARE(m_remote->list()->itemText(hello, 1), QStringLiteral("100,000"));
        QVERIFY(!m_remote->list()->itemText(hello, 2).isEmpty());
        QCOMPARE(m_remote->entry(hello).size, std::uint64_t(100000));
        QVERIFY(m_remote->list()->itemText(m_remote->rowOf(QStringLiteral("sub")), 1).isEmpty());

        const int listsBefore = listCommands();
        QVERIFY(selectOnly(QStringLiteral("sub")));
        m_remote->openDirectory();
        QVERIFY(settle().isEmpty());
        QCOMPARE(rowTexts(*m_remote), QStringList({"..", "inner.txt"}));
        QCOMPARE(listCommands(), listsBefore + 1);
        QVERIFY(selectOnly(QStringLiteral("..")));
        m_remote->openDirectory();
        QVERIFY(settle().isEmpty());
        QCOMPARE(rowTexts(*m_remote), QStringList({"..", "sub", "hello.txt", "second.bin"}));
        QCOMPARE(listCommands(), listsBefore + 1); // the second visit comes from the cache
        QVERIFY(m_remote->refreshListing(true));
        QVERIFY(settle().isEmpty());
        QCOMPARE(listCommands(), listsBefore + 2);
    }

    void makeRenameAndDeleteAFolder()
    {
        m_answers = {QStringLiteral("made")};
        m_remote->makeFolder();
        QVERIFY(settle().isEmpty());
        QVERIFY(fs::is_directory(m_remoteHome / "made"));
        QVERIFY(m_remote->entry(m_remote->rowOf(QStringLiteral("made"))).isDirectory);

        QVERIFY(selectOnly(QStringLiteral("made")));
        m_answers = {QStringLiteral("renamed")};
        m_remote->renameSelection();
        QVERIFY(settle().isEmpty());
        QVERIFY(!fs::exists(m_remoteHome / "made"));
        QVERIFY(fs::is_directory(m_remoteHome / "renamed"));
        QVERIFY(m_remote->rowOf(QStringLiteral("renamed")) >= 0);

        QVERIFY(selectOnly(QStringLiteral("renamed")));
        m_remote->deleteSelection();
        QCOMPARE(m_questions.last(), QStringLiteral("Delete \"renamed\"?"));
        QVERIFY(settle().isEmpty());
        QVERIFY(!fs::exists(m_remoteHome / "renamed"));
        QCOMPARE(m_remote->rowOf(QStringLiteral("renamed")), -1);
    }

    void directDownloadAndUpload()
    {
        const fs::path local = m_dir / "local";
        QVERIFY(m_remote->downloadFile("hello.txt", local.string() + "//"));
        QCOMPARE(settle(), QList<bool>{true});
        QCOMPARE(bw::test::readFile(local / "hello.txt"), bw::test::readFile(m_remoteHome / "hello.txt"));
        QVERIFY(m_remote->progressWindow() == nullptr);
        QCOMPARE(m_remote->directoryBox()->text(), QString::fromStdString("/" + m_remoteName + "/"));

        const std::string upBytes = bw::test::patternBytes(123457, 9);
        bw::test::writeFile(m_dir / "up.bin", upBytes);
        QVERIFY(m_remote->uploadFile((m_dir / "up.bin").string()));
        QCOMPARE(settle(), QList<bool>{true});
        QCOMPARE(bw::test::readFile(m_remoteHome / "up.bin"), upBytes);

        // A file made this way can be renamed and deleted like a folder.
        QVERIFY(m_remote->refreshListing(true));
        QVERIFY(settle().isEmpty());
        QVERIFY(selectOnly(QStringLiteral("up.bin")));
        m_answers = {QStringLiteral("up2.bin")};
        m_remote->renameSelection();
        QVERIFY(settle().isEmpty());
        QVERIFY(fs::exists(m_remoteHome / "up2.bin"));
        QVERIFY(selectOnly(QStringLiteral("up2.bin")));
        m_remote->deleteSelection();
        QVERIFY(settle().isEmpty());
        QVERIFY(!fs::exists(m_remoteHome / "up2.bin"));
    }

    void failedTransfersEndWithoutAbort()
    {
        const fs::path local = m_dir / "local";
        const int logged = m_log.size();
        // The server refuses the file: the transfer ends at once, says so in the log, leaves nothing.
        QVERIFY(m_remote->downloadFile("missing.bin", local.string()));
        QCOMPARE(settle(), QList<bool>{false});
        QVERIFY(!fs::exists(local / "missing.bin"));
        QVERIFY(m_remote->progressWindow() == nullptr);
        QVERIFY(m_log.mid(logged).filter(QStringLiteral("status:Transfer failed")).size() == 1);
        QVERIFY(m_remote->isConnected());

        // Unsafe names never become local paths.
        QVERIFY(!m_remote->downloadFile("../escape.txt", local.string()));
        QVERIFY(!m_remote->downloadFile("a/b.txt", local.string()));
        QVERIFY(!m_remote->downloadFile("..", local.string()));
        QVERIFY(!fs::exists(m_dir / "escape.txt"));
        QVERIFY(settle().isEmpty());

        // Abort pressed at once: the call ends, the partial file is gone, the connection still works.
        auto abortOnStart = connect(m_remote.get(), &CManFtpView::transferStarted, this,
            [this] { m_remote->progressWindow()->abortButton()->click(); });
        QVERIFY(m_remote->downloadFile("second.bin", local.string()));
        QCOMPARE(settle(), QList<bool>{false});
        disconnect(abortOnStart);
        QVERIFY(!fs::exists(local / "second.bin"));
        QVERIFY(m_remote->refreshListing(true));
        QVERIFY(settle().isEmpty());
        QVERIFY(m_remote->rowOf(QStringLiteral("hello.txt")) >= 0);
        QVERIFY(m_remote->isConnected());
    }

    void failedDownloadKeepsWhatWasThere()
    {
        // The user's own file: a download aborted before it began leaves its bytes alone.
        const fs::path local = m_dir / "local";
        bw::test::writeFile(local / "second.bin", "precious");
        auto abortOnStart = connect(m_remote.get(), &CManFtpView::transferStarted, this,
            [this] { m_remote->progressWindow()->abortButton()->click(); });
        QVERIFY(m_remote->downloadFile("second.bin", local.string()));
        QCOMPARE(settle(), QList<bool>{false});
        disconnect(abortOnStart);
        QCOMPARE(bw::test::readFile(local / "second.bin"), std::string("precious"));
        fs::remove(local / "second.bin");

        // A folder of the file's name cannot be overwritten: the download fails, the folder stays.
        m_remote->setIfFileExists(bw::engine::IfFileExists::Overwrite);
        const fs::path blocked = m_dir / "blocked";
        fs::create_directories(blocked / "hello.txt");
        QVERIFY(m_remote->downloadFile("hello.txt", blocked.string()));
        QCOMPARE(settle(), QList<bool>{false});
        QVERIFY(fs::is_directory(blocked / "hello.txt"));
        QVERIFY(m_remote->isConnected());
    }

    void dragAndDropBetweenThePanes()
    {
        QVERIFY(m_remote->refreshListing(false));
        QVERIFY(settle().isEmpty());
        m_remote->list()->clearSelection();
        m_remote->list()->selectRow(m_remote->rowOf(QStringLiteral("hello.txt")), false);
        m_remote->list()->selectRow(m_remote->rowOf(QStringLiteral("second.bin")), false);
        const QString text = m_remote->dragText();
        const QString base =
            QStringLiteral("{%1}ftp://%2:%3@%4:%5/%6/")
                .arg(m_item)
                .arg(QString::fromStdString(m_server.user), QString::fromStdString(m_server.password),
                    QString::fromStdString(m_server.host))
                .arg(m_server.port)
                .arg(QString::fromStdString(m_remoteName));
        QCOMPARE(text, base + QStringLiteral("hello.txt") + QChar(8) + base + QStringLiteral("second.bin"));

        // What the drag offers other programs holds no password; a drop inside Bellwick reads it all.
        const std::unique_ptr<QMimeData> data(m_remote->dragData());
        QVERIFY(!data->formats().isEmpty());
        for (const QString &format : data->formats())
            QVERIFY2(!data->data(format).contains(QByteArray::fromStdString(m_server.password)),
                qPrintable(format));
        const QString shown =
            QStringLiteral("ftp://%1@%2:%3/%4/")
                .arg(QString::fromStdString(m_server.user), QString::fromStdString(m_server.host))
                .arg(m_server.port)
                .arg(QString::fromStdString(m_remoteName));
        QCOMPARE(data->text(), shown + QStringLiteral("hello.txt\n") + shown + QStringLiteral("second.bin"));
        QCOMPARE(bw::widgets::droppedText(*data), text);
        QCOMPARE(bw::widgets::urlsFromMimeData(*data),
            QStringList({base + QStringLiteral("hello.txt"), base + QStringLiteral("second.bin")}));

        // Dropped on the local pane: both names come from the browsed folder into the working folder.
        const fs::path target = m_dir / "dropped";
        fs::create_directories(target);
        m_local->setDirectory(target.string());
        m_local->listDirectory();
        m_local->dropText(text);
        QCOMPARE(settle(), QList<bool>({true, true}));
        QCOMPARE(bw::test::readFile(target / "hello.txt"), bw::test::readFile(m_remoteHome / "hello.txt"));
        QCOMPARE(bw::test::readFile(target / "second.bin"), bw::test::readFile(m_remoteHome / "second.bin"));
        QVERIFY(m_local->rowOf(QStringLiteral("second.bin")) >= 0);

        // Local rows dropped on the remote browser are uploaded; a bare path is ignored.
        bw::test::writeFile(target / "from-local.txt", "local bytes");
        bw::test::writeFile(target / "bare.txt", "bare");
        m_local->listDirectory();
        m_local->list()->clearSelection();
        m_local->list()->selectRow(m_local->rowOf(QStringLiteral("from-local.txt")), false);
        const QString localText = m_local->dragText();
        const std::unique_ptr<QMimeData> localData(m_local->dragData());
        QCOMPARE(bw::widgets::droppedText(*localData), localText);
        QCOMPARE(localData->text(), localText); // one file: the same either way
        m_remote->dropText(localText + QChar(8) + QString::fromStdString((target / "bare.txt").string()));
        QCOMPARE(settle(), QList<bool>{true});
        QCOMPARE(bw::test::readFile(m_remoteHome / "from-local.txt"), std::string("local bytes"));
        QVERIFY(!fs::exists(m_remoteHome / "bare.txt"));
        QVERIFY(m_remote->rowOf(QStringLiteral("from-local.txt")) >= 0);

        // Another program's drop of local files uploads only after the user's yes.
        bw::test::writeFile(target / "outside.txt", "outside");
        for (const bool yes : {false, true}) {
            m_confirmAnswer = yes;
            m_questions.clear();
            m_remote->dropOutsideText(
                QStringLiteral("file://") + QString::fromStdString((target / "outside.txt").string()));
            QTRY_COMPARE_WITH_TIMEOUT(m_questions.size(), 1, kLimitMs);
            QCOMPARE(settle(), yes ? QList<bool>{true} : QList<bool>{});
            QCOMPARE(fs::exists(m_remoteHome / "outside.txt"), yes);
        }
        m_confirmAnswer = true;

        // The Upload and Download commands work on the selections.
        bw::test::writeFile(target / "cmd.txt", "by command");
        m_local->listDirectory();
        m_local->list()->clearSelection();
        m_local->list()->selectRow(m_local->rowOf(QStringLiteral("cmd.txt")), false);
        QVERIFY(m_local->canUpload());
        m_local->uploadSelection();
        QCOMPARE(settle(), QList<bool>{true});
        QCOMPARE(bw::test::readFile(m_remoteHome / "cmd.txt"), std::string("by command"));
        fs::remove(target / "cmd.txt");
        QVERIFY(selectOnly(QStringLiteral("cmd.txt")));
        QVERIFY(m_remote->canDownload());
        m_remote->downloadSelection();
        QCOMPARE(settle(), QList<bool>{true});
        QCOMPARE(bw::test::readFile(target / "cmd.txt"), std::string("by command"));
        m_local->setDirectory((m_dir / "local").string());
    }

    void contextMenuAndViewUrl()
    {
        QMenu *menu = m_remote->buildContextMenu(1);
        QStringList texts;
        for (QAction *action : menu->actions())
            texts << action->text();
        QCOMPARE(texts,
            QStringList({"Download", "Rename...", "View File...", "Make Dir...", "Change Dir...", "Refresh",
                "", "Delete"}));
        QCOMPARE(m_remote->buildContextMenu(-1)->actions().size(), 3);

        // View File hands the desktop a private copy of the file, never an address with the login.
        QList<QUrl> opened;
        BrowsePrompts p = prompts();
        p.openUrl = [&](const QUrl &url) {
            opened << url;
        };
        m_remote->setPrompts(p);
        QVERIFY(selectOnly(QStringLiteral("hello.txt")));
        QVERIFY(m_remote->viewSelection());
        QCOMPARE(settle(), QList<bool>{true});
        m_remote->setPrompts(prompts());
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened[0].isLocalFile());
        QVERIFY(!opened[0].toString().contains(QString::fromStdString(m_server.password)));
        const fs::path copy = opened[0].toLocalFile().toStdString();
        QCOMPARE(copy.filename().string(), std::string("hello.txt"));
        QCOMPARE(bw::test::readFile(copy), bw::test::readFile(m_remoteHome / "hello.txt"));
        QCOMPARE(fs::status(copy).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        QCOMPARE(fs::status(m_remote->viewFolder().path()).permissions(), fs::perms::owner_all);
        // A folder is no file to view.
        QVERIFY(selectOnly(QStringLiteral("sub")));
        QVERIFY(!m_remote->viewSelection());
        QVERIFY(settle().isEmpty());
    }

    void temporaryDisconnectThenDisconnect()
    {
        QVERIFY(m_remote->isConnected());
        const auto firstLease = m_leases.find(m_item);
        m_remote->disconnect(true);
        QVERIFY(!m_remote->isConnected());
        // Left for the job, which ends the item with the same status as soon as it wakes, and may
        // take it again at once (it does not poll) and offer a new lease.
        const bw::core::ItemStatus left = bw::core::snapshotOrVanished(m_queue, m_item).status;
        QVERIFY2(left == bw::core::ItemStatus::StatusReconnectAfterTransfers
                || left == bw::core::ItemStatus::StatusInactiveManualConnection,
            qPrintable(QString::number(int(left))));
        QVERIFY(firstLease && firstLease->hasEnded());
        QCOMPARE(m_remote->list()->rowCount(), 0);
        QVERIFY(m_remote->directoryBox()->text().isEmpty());
        // The job ends the item where the browser left it, and then no longer holds it.
        // (With nothing else to do it may take the item again at once and offer a new lease.)
        QVERIFY(QTest::qWaitFor(
            [&] {
                const auto offered = m_leases.find(m_item);
                return !bw::core::isInProgressStatus(bw::core::snapshotOrVanished(m_queue, m_item).status)
                    || (offered && offered != firstLease);
            },
            kLimitMs));
        QVERIFY(QTest::qWaitFor([&] { return m_queue.removeItem(m_item); }, kLimitMs));

        const std::int32_t second = connectAndHandOver();
        QVERIFY(second != 0);
        QVERIFY(second != m_item);
        m_remote->disconnect(false);
        // The job wakes as the session comes back (it does not poll): it may have ended the item already.
        const bw::core::ItemStatus secondLeft = bw::core::snapshotOrVanished(m_queue, second).status;
        QVERIFY2(secondLeft == bw::core::ItemStatus::StatusInactiveManualConnection
                || secondLeft == bw::core::ItemStatus::StatusManualConnectionComplete,
            qPrintable(QString::number(int(secondLeft))));
        QVERIFY(givenBack(second));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return bw::core::snapshotOrVanished(m_queue, second).status
                    == bw::core::ItemStatus::StatusManualConnectionComplete;
            },
            kLimitMs));
    }

    void lostConnectionFailsTheItem()
    {
        const std::int32_t id = connectAndHandOver();
        QVERIFY(id != 0);
        const auto firstLease = m_leases.find(id);
        // The server goes away under the browser: the next command notices and gives the item up.
        m_remote->connection()->disconnect(bw::net::StopByEngine);
        QVERIFY(!m_remote->refreshListing(true));
        QVERIFY(!m_remote->isConnected());
        QCOMPARE(m_remote->list()->rowCount(), 0);
        // A failed item is taken again at once: its new lease shows the failure has passed.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const auto offered = m_leases.find(id);
                return bw::core::snapshotOrVanished(m_queue, id).status
                    == bw::core::ItemStatus::StatusFailedManualConnection
                    || (offered && offered != firstLease);
            },
            kLimitMs));
    }

    void detachedDropQueuesAManualConnection()
    {
        QVERIFY(!m_remote->isConnected());
        const std::size_t before = m_queue.count();
        m_remote->dropText(QStringLiteral("http://h/a.txt"));
        QCOMPARE(m_queue.count(), before);
        m_remote->dropText(QStringLiteral("ftp://u:p@nowhere.invalid:2100/dir/a.txt") + QChar(8)
            + QStringLiteral("ftp://x:y@other:21/b.txt"));
        QCOMPARE(m_queue.count(), before + 1);
        const std::int32_t id = m_queue.ids().back();
        QCOMPARE(
            bw::core::snapshotOrVanished(m_queue, id).url, std::string("ftp://u:p@nowhere.invalid:2100"));
        QCOMPARE(bw::core::snapshotOrVanished(m_queue, id).localPath, std::string());
        m_queue.removeItem(id);
        // An SSH site is opened in its download form too.
        m_remote->dropText(QStringLiteral("sftpu://u:p@nowhere.invalid/~/in/a.txt"));
        QCOMPARE(m_queue.count(), before + 1);
        const std::int32_t sftp = m_queue.ids().back();
        QCOMPARE(
            bw::core::snapshotOrVanished(m_queue, sftp).url, std::string("sftp://u:p@nowhere.invalid:22"));
        m_queue.removeItem(sftp);
    }
};

QTEST_MAIN(ManualSessionTest)
#include "manual_session_test.moc"
