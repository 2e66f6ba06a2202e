// SPDX-License-Identifier: MIT
// The site file's bytes: both layouts, the options of older files, damaged files, and a safe save.
#include <filesystem>

#include <sys/stat.h>

#include <QTest>

#include "browse/site_list.h"
#include "engine/memory_settings_store.h"
#include "support/temp_dir.h"

using bw::browse::SiteEntry;
using bw::browse::SiteFileState;
using bw::browse::SiteList;
using bw::browse::SiteOptions;

namespace {

std::string le(std::int32_t value)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF));
    return out;
}

std::string str(const std::string &text)
{
    return le(static_cast<std::int32_t>(text.size())) + text;
}

SiteEntry exampleEntry()
{
    SiteEntry entry;
    entry.name = "a";
    entry.user = "b";
    entry.port = 21;
    entry.address = "h";
    entry.options = SiteOptions{30, 30, 30, 0};
    return entry;
}

} // namespace

class SiteListTest : public QObject
{
    Q_OBJECT

private slots:

    void emptyListIsTwelveBytes()
    {
        QCOMPARE(SiteList().serialize(), std::string("\xFF\xFF\xFF\xFF\x01\0\0\0\0\0\0\0", 12));
    }

    void entryLayout()
    {
        SiteList list;
        list.append(exampleEntry());
        const std::string bytes = list.serialize();
        QCOMPARE(bytes.size(), std::size_t(12 + 43));
        const std::string entry =
            str("a") + str("") + str("b") + le(0) + le(21) + str("h") + le(30) + le(30) + le(30) + le(0);
        QCOMPARE(bytes.substr(12), entry);
    }

    void optionsKeepTheirOrder()
    {
        SiteEntry entry = exampleEntry();
        entry.options = SiteOptions{1, 2, 3, 1}; // retry time, retry count, timeout, passive
        SiteList list;
        list.append(entry);
        // On disk: retry count, retry time, timeout, passive.
        QCOMPARE(list.serialize().substr(12 + 27), le(2) + le(1) + le(3) + le(1));
        SiteList back;
        QVERIFY(back.parse(list.serialize(), {}));
        QCOMPARE(back.count(), std::size_t(1));
        QVERIFY(back.at(0) == entry);
    }

    void olderLayoutTakesOptionsFromSettings()
    {
        bw::engine::MemorySettingsStore store;
        store.writeInt("Options", "RetryTime", 45);
        store.writeInt("Options", "RetryCount", 7);
        store.writeInt("Options", "Timeout", 90);
        store.writeInt("Options", "Passive", 5);
        const SiteOptions fromSettings = bw::browse::siteOptionsFromSettings(store);
        QVERIFY(fromSettings == (SiteOptions{45, 7, 90, 1}));

        const std::string older = le(2) + str("one") + str("pw") + str("u") + le(0) + le(2121) + str("host1")
            + str("two") + str("") + str("anonymous") + le(1) + le(21) + str("host2");
        bw::test::TempDir dir;
        const auto path = dir / "database.usr";
        bw::test::writeFile(path, older);
        SiteList list;
        QVERIFY(list.load(path, fromSettings));
        QCOMPARE(list.count(), std::size_t(2));
        QCOMPARE(list.at(0).address, std::string("host1"));
        QCOMPARE(list.at(0).port, 2121);
        QCOMPARE(list.at(1).anonymous, 1);
        QVERIFY(list.at(0).options == fromSettings);
        QVERIFY(list.at(1).options == fromSettings);

        QVERIFY(list.save(path));
        const std::string saved = bw::test::readFile(path);
        QCOMPARE(saved.substr(0, 12), le(-1) + le(1) + le(2));
        SiteList again;
        QVERIFY(again.load(path, SiteOptions{1, 1, 1, 0}));
        QVERIFY(again.entries() == list.entries());
    }

    void tlsRoundTripsAndOlderFilesReadWithout()
    {
        SiteList list;
        SiteEntry plain = exampleEntry();
        SiteEntry explicitTls = exampleEntry();
        explicitTls.name = "e";
        explicitTls.options.tls = bw::browse::SiteTls::Explicit;
        SiteEntry implicitTls = exampleEntry();
        implicitTls.name = "i";
        implicitTls.port = 990;
        implicitTls.options.tls = bw::browse::SiteTls::Implicit;
        list.append(plain);
        list.append(explicitTls);
        list.append(implicitTls);
        const std::string bytes = list.serialize();

        SiteList read;
        QVERIFY(read.parse(bytes, SiteOptions{}));
        QVERIFY(read.entries() == list.entries());

        // The entries are the version 1 layout an older Bellwick reads; the TLS follows them.
        SiteList withoutTls;
        for (SiteEntry entry : list.entries()) {
            entry.options.tls = bw::browse::SiteTls::None;
            withoutTls.append(entry);
        }
        const std::string older = withoutTls.serialize();
        QVERIFY(bytes.size() > older.size());
        QCOMPARE(bytes.substr(0, older.size()), older);

        // Files without it (version 1 and marker-less) read as no TLS.
        SiteList fromOlder;
        QVERIFY(fromOlder.parse(older, SiteOptions{}));
        QVERIFY(fromOlder.entries() == withoutTls.entries());
        const std::string markerless = le(1) + str("a") + str("") + str("b") + le(0) + le(21) + str("h");
        QVERIFY(fromOlder.parse(markerless, SiteOptions{}));
        QCOMPARE(int(fromOlder.at(0).options.tls), int(bw::browse::SiteTls::None));

        // A cut block is damage, but every entry is kept; unknown keys and values are left alone.
        SiteList cut;
        QVERIFY(!cut.parse(bytes.substr(0, bytes.size() - 3), SiteOptions{}));
        QCOMPARE(cut.count(), std::size_t(3));
        const std::string unknown = older + str("Bellwick site settings") + le(3) + str("Colour=blue\n")
            + str("TLS=7\n") + str("TLS=2\nColour=red\n");
        SiteList newer;
        QVERIFY(newer.parse(unknown, SiteOptions{}));
        QCOMPARE(int(newer.at(0).options.tls), int(bw::browse::SiteTls::None));
        QCOMPARE(int(newer.at(1).options.tls), int(bw::browse::SiteTls::None));
        QCOMPARE(int(newer.at(2).options.tls), int(bw::browse::SiteTls::Implicit));
    }

    // Files without an SFTP site keep their bytes; an SFTP site adds one line to the later settings.
    void sftpProtocolIsOneLineOnlyWhenUsed()
    {
        SiteList list;
        list.append(exampleEntry());
        const std::string plainBytes = list.serialize();
        SiteEntry sftp = exampleEntry();
        sftp.options.protocol = bw::browse::SiteProtocol::Sftp;
        list.append(sftp);
        const std::string bytes = list.serialize();
        const std::string tag = str("Bellwick site settings");
        QCOMPARE(bytes.substr(12),
            plainBytes.substr(12) + plainBytes.substr(12) + tag + le(2) + str("") + str("Protocol=1\n"));
        SiteList read;
        QVERIFY(read.parse(bytes, SiteOptions{}));
        QVERIFY(read.entries() == list.entries());
        QCOMPARE(bw::browse::siteSchemePrefix(read.at(1).options), "sftp://");
        // A protocol a newer Bellwick may add reads as FTP.
        QVERIFY(read.parse(plainBytes + tag + le(1) + str("Protocol=7\n"), SiteOptions{}));
        QCOMPARE(int(read.at(0).options.protocol), int(bw::browse::SiteProtocol::Ftp));
    }

    void damagedFilesKeepCompleteEntries_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("complete");
        // Two entries of 43 bytes after the 12-byte head.
        QTest::newRow("head only") << 12 << 0;
        QTest::newRow("inside the first name") << 14 << 0;
        QTest::newRow("inside the first options") << 12 + 40 << 0;
        QTest::newRow("first whole") << 12 + 43 << 1;
        QTest::newRow("inside the second") << 12 + 60 << 1;
        QTest::newRow("marker cut") << 3 << 0;
    }

    void damagedFilesKeepCompleteEntries()
    {
        QFETCH(int, cut);
        QFETCH(int, complete);
        SiteList list;
        list.append(exampleEntry());
        list.append(exampleEntry());
        const std::string bytes = list.serialize().substr(0, static_cast<std::size_t>(cut));
        SiteList back;
        back.append(exampleEntry());
        QVERIFY(!back.parse(bytes, {}));
        QCOMPARE(back.count(), std::size_t(complete));
    }

    void absurdLengthsAndCountsAreRefused()
    {
        SiteList list;
        // A count of two billion with one entry present, then a name claiming 2 GB.
        const std::string bytes = le(-1) + le(1) + le(0x7FFFFFFF) + str("a") + str("") + str("b") + le(0)
            + le(21) + str("h") + le(30) + le(30) + le(30) + le(0) + le(0x7FFFFFF0) + "xy";
        QVERIFY(!list.parse(bytes, {}));
        QCOMPARE(list.count(), std::size_t(1));
        const std::string negative = le(-1) + le(1) + le(1) + le(-5) + "abc";
        QVERIFY(!list.parse(negative, {}));
        QCOMPARE(list.count(), std::size_t(0));
    }

    void missingFileLeavesTheListAlone()
    {
        bw::test::TempDir dir;
        SiteList list;
        list.append(exampleEntry());
        QVERIFY(!list.load(dir / "absent.usr", {}));
        QCOMPARE(list.count(), std::size_t(1));
    }

    void saveIsPrivateAndReplacesWhole()
    {
        bw::test::TempDir dir;
        const auto path = dir / "sub" / "folder" / "database.usr";
        SiteList list;
        list.append(exampleEntry());
        QVERIFY(list.save(path)); // creates the folders on first save

        struct stat info
        {};

        QCOMPARE(::stat(path.c_str(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(bw::test::readFile(path), list.serialize());
        // No temporary file is left beside it.
        int files = 0;
        for ([[maybe_unused]] const auto &item : std::filesystem::directory_iterator(path.parent_path()))
            ++files;
        QCOMPARE(files, 1);
    }

    void failedSaveKeepsTheOldFile()
    {
        bw::test::TempDir dir;
        const auto path = dir / "database.usr";
        SiteList list;
        list.append(exampleEntry());
        QVERIFY(list.save(path));
        // A folder where the file should be: nothing can be written, and nothing is left half-written.
        const auto blocked = dir / "blocked";
        std::filesystem::create_directories(blocked / "database.usr");
        QVERIFY(!list.save(blocked / "database.usr"));
        QVERIFY(std::filesystem::is_directory(blocked / "database.usr"));
        QCOMPARE(bw::test::readFile(path), list.serialize());
    }

    void damagedFileIsSetAsideBeforeANewOneIsWritten()
    {
        bw::test::TempDir dir;
        const auto path = dir / "database.usr";
        SiteList whole;
        whole.append(exampleEntry());
        whole.append(exampleEntry());
        const std::string damaged = whole.serialize().substr(0, 12 + 60); // the second entry is cut
        bw::test::writeFile(path, damaged);

        SiteList list;
        std::vector<std::string> notices;
        list.setNoticeHandler([&](const std::string &line) { notices.push_back(line); });
        QVERIFY(list.load(path, {}));
        QVERIFY(list.fileState() == SiteFileState::Damaged);
        QVERIFY(!list.loadProblem().empty());
        QCOMPARE(list.count(), std::size_t(1));

        // Nothing changed: the exit save writes nothing and the file keeps every byte.
        QVERIFY(list.saveIfModified(path));
        QCOMPARE(bw::test::readFile(path), damaged);
        QVERIFY(notices.empty());

        // A change: the damaged file is kept beside the new one, and a line says where.
        list.append(exampleEntry());
        QVERIFY(list.isModified());
        QVERIFY(list.saveIfModified(path));
        QCOMPARE(bw::test::readFile(path), list.serialize());
        std::vector<std::filesystem::path> aside;
        for (const auto &item : std::filesystem::directory_iterator(dir.path()))
            if (item.path().filename().string().starts_with("database.usr.damaged-"))
                aside.push_back(item.path());
        QCOMPARE(aside.size(), std::size_t(1));
        QCOMPARE(bw::test::readFile(aside.front()), damaged);
        QCOMPARE(notices.size(), std::size_t(1));
        QVERIFY(notices.front().find(aside.front().string()) != std::string::npos);

        // Set aside once: later saves just replace the new file.
        list.append(exampleEntry());
        QVERIFY(list.save(path));
        QCOMPARE(notices.size(), std::size_t(1));
        QVERIFY(!list.isModified());
    }

    void unchangedListsAreNotWrittenAtExit()
    {
        bw::test::TempDir dir;
        // A missing file stays missing.
        SiteList empty;
        QVERIFY(!empty.load(dir / "absent.usr", {}));
        QVERIFY(empty.fileState() == SiteFileState::Missing);
        QVERIFY(empty.saveIfModified(dir / "absent.usr"));
        QVERIFY(!std::filesystem::exists(dir / "absent.usr"));
        // An older file is not rewritten in the new layout when nothing changed.
        const auto path = dir / "database.usr";
        const std::string older = le(1) + str("one") + str("pw") + str("u") + le(0) + le(21) + str("host1");
        bw::test::writeFile(path, older);
        SiteList list;
        QVERIFY(list.load(path, {}));
        QVERIFY(list.fileState() == SiteFileState::Loaded);
        QVERIFY(list.saveIfModified(path));
        QCOMPARE(bw::test::readFile(path), older);
    }
};

QTEST_APPLESS_MAIN(SiteListTest)
#include "site_list_test.moc"
