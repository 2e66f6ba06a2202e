// SPDX-License-Identifier: MIT
// The remote browser over SFTP against the private sshd, through the same session interface as FTP:
// a site's Connect is queued, a worker logs in and lends its session, and the user browses, makes,
// renames and deletes a folder, moves files both ways, views one and disconnects.
// Needs BW_TEST_SFTP_* (scripts/test starts the server); fails without it.
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "app/glue/bellwick_doc.h"
#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "browse/site_dialog.h"
#include "core/queue_list.h"
#include "engine/connection_lease.h"
#include "engine/scheduler.h"
#include "support/manual_pane_timing.h"
#include "support/sftp_test_home.h"
#include "support/temp_dir.h"
#include "ui/queue_view.h"
#include "widgets/row_texts.h"

using namespace bw::browse;
using bw::test::rowTexts;
namespace fs = std::filesystem;

namespace {

constexpr int kLimitMs = 20000;

} // namespace

class ManualSessionSftpTest : public QObject
{
    Q_OBJECT

private:
    bw::test::TempDir m_dir;
    std::unique_ptr<bw::test::SftpTestHome> m_home; // HOME of this process: the workers read its .ssh
    fs::path m_remoteHome; // our own folder on the server, as a local path
    bw::core::QueueList m_queue;
    bw::engine::LeaseBoard m_leases;
    bw::engine::Scheduler m_scheduler{bw::test::fastPasses(), bw::test::offeringOn(m_leases)};
    std::unique_ptr<bw::app::CBellwickDoc> m_document;
    std::unique_ptr<bw::ui::CFtpTreeView> m_queueView;
    std::unique_ptr<CManFtpView> m_remote;
    std::unique_ptr<CLocalView> m_local;
    QStringList m_answers;
    QList<QUrl> m_opened;
    std::unique_ptr<QSignalSpy> m_transfers;

    BrowsePrompts prompts()
    {
        BrowsePrompts p;
        p.confirm = [](QWidget *, const QString &, const QString &) {
            return true;
        };
        p.askName = [this](QWidget *, const QString &, const QString &,
                        const QString &) -> std::optional<QString> {
            if (m_answers.isEmpty())
                return std::nullopt;
            return m_answers.takeFirst();
        };
        p.openUrl = [this](const QUrl &url) {
            m_opened << url;
        };
        return p;
    }

    bool selectOnly(const QString &name)
    {
        const int row = m_remote->rowOf(name);
        if (row >= 0)
            m_remote->list()->selectRow(row, true);
        return row >= 0;
    }

    // Waits until every queued command ran; the outcomes of the transfers that ended meanwhile.
    QList<bool> settle()
    {
        if (!QTest::qWaitFor([&] { return !m_remote->isBusy(); }, kLimitMs))
            return {false, false, false};
        QList<bool> outcomes;
        for (const QList<QVariant> &signal : std::as_const(*m_transfers))
            outcomes << signal.at(1).toBool();
        m_transfers->clear();
        return outcomes;
    }

private slots:

    void initTestCase()
    {
        m_home = std::make_unique<bw::test::SftpTestHome>();
        const bw::test::SftpServer &server = m_home->server();
        QVERIFY2(server.port != 0, "the test sshd is not running (BW_TEST_SFTP_PORT unset)");
        m_home->trustServer();
        ::setenv("HOME", m_home->path().c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK"); // the password of the site logs in
        m_remoteHome = fs::path(server.root) / ("browse-" + std::to_string(::getpid()));
        fs::remove_all(m_remoteHome);
        fs::create_directories(m_remoteHome / "sub");
        bw::test::writeFile(m_remoteHome / "hello.txt", bw::test::patternBytes(300000, 3));
        fs::permissions(m_remoteHome, fs::perms::all);
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

    void browsesChangesAndMovesFilesThenDisconnects()
    {
        const bw::test::SftpServer &server = m_home->server();
        SiteOptions options;
        options.retryTime = 0;
        options.protocol = SiteProtocol::Sftp;
        const std::int32_t id =
            queueManualConnection(m_queue, server.user, server.password, server.host, server.port, options);
        QVERIFY(id != 0);
        QVERIFY(QTest::qWaitFor(
            [&] {
                m_queueView->refreshItem(id);
                return m_remote->isConnected();
            },
            kLimitMs));
        QVERIFY(settle().isEmpty());
        QCOMPARE(m_remote->directoryBox()->text(), QString::fromStdString(server.root));

        const QString folder = QString::fromStdString(m_remoteHome.string());
        m_answers = {folder};
        m_remote->changeDirectory();
        QVERIFY(settle().isEmpty());
        QCOMPARE(m_remote->currentDirectoryPath(), m_remoteHome.string() + "/");
        QCOMPARE(rowTexts(*m_remote), QStringList({"..", "sub", "hello.txt"}));
        QCOMPARE(m_remote->entry(m_remote->rowOf(QStringLiteral("hello.txt"))).size, std::uint64_t(300000));

        m_answers = {QStringLiteral("made")};
        m_remote->makeFolder();
        QVERIFY(settle().isEmpty());
        QVERIFY(fs::is_directory(m_remoteHome / "made"));
        QVERIFY(selectOnly(QStringLiteral("made")));
        m_answers = {QStringLiteral("renamed")};
        m_remote->renameSelection();
        QVERIFY(settle().isEmpty());
        QVERIFY(fs::is_directory(m_remoteHome / "renamed") && !fs::exists(m_remoteHome / "made"));
        QVERIFY(selectOnly(QStringLiteral("renamed")));
        m_remote->deleteSelection();
        QVERIFY(settle().isEmpty());
        QVERIFY(!fs::exists(m_remoteHome / "renamed"));

        const fs::path local = m_dir / "local";
        QVERIFY(m_remote->downloadFile("hello.txt", local.string() + "//"));
        QCOMPARE(settle(), QList<bool>{true});
        QCOMPARE(bw::test::readFile(local / "hello.txt"), bw::test::readFile(m_remoteHome / "hello.txt"));
        const std::string upBytes = bw::test::patternBytes(123457, 9);
        bw::test::writeFile(m_dir / "up.bin", upBytes);
        QVERIFY(m_remote->uploadFile((m_dir / "up.bin").string()));
        QCOMPARE(settle(), QList<bool>{true});
        QCOMPARE(bw::test::readFile(m_remoteHome / "up.bin"), upBytes);

        // View File: a private copy of the file, opened by the desktop.
        QVERIFY(selectOnly(QStringLiteral("hello.txt")));
        QVERIFY(m_remote->viewSelection());
        QCOMPARE(settle(), QList<bool>{true});
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(bw::test::readFile(m_opened[0].toLocalFile().toStdString()),
            bw::test::readFile(m_remoteHome / "hello.txt"));

        m_remote->disconnect(false);
        QVERIFY(!m_remote->isConnected());
        QVERIFY(QTest::qWaitFor(
            [&] {
                return bw::core::snapshotOrVanished(m_queue, id).status
                    == bw::core::ItemStatus::StatusManualConnectionComplete;
            },
            kLimitMs));
    }
};

QTEST_MAIN(ManualSessionSftpTest)
#include "manual_session_sftp_test.moc"
