// SPDX-License-Identifier: MIT
// What a failed direct download leaves on the local disk: only what the transfer added goes.
#include <filesystem>
#include <optional>
#include <string>

#include <QTest>

#include "engine/download_target.h"
#include "support/temp_dir.h"

using namespace bw::engine;
namespace fs = std::filesystem;

class DownloadTargetTest : public QObject
{
    Q_OBJECT

private slots:

    void restoresWhatWasThere()
    {
        const struct
        {
            const char *name;
            std::optional<std::string> before; // nullopt: no file
            std::optional<std::string> written; // what the transfer left; nullopt: nothing
            std::optional<std::string> after;
        } cases[] = {
            {"a file the transfer created goes", std::nullopt, "partial", std::nullopt},
            {"an empty file the transfer created goes", std::nullopt, "", std::nullopt},
            {"nothing was created", std::nullopt, std::nullopt, std::nullopt},
            {"bytes appended to the user's file are cut off", "mine", "mine and more", "mine"},
            {"a file that could not be opened keeps its bytes", "read-only bytes", "read-only bytes",
                "read-only bytes"},
            {"an empty file of the user's stays", "", "", ""},
        };

        for (const auto &c : cases) {
            bw::test::TempDir dir;
            const fs::path path = dir / "file.bin";
            if (c.before)
                bw::test::writeFile(path, *c.before);
            const DownloadTarget target(path.string());
            QCOMPARE(target.existed(), c.before.has_value());
            if (c.written)
                bw::test::writeFile(path, *c.written);
            QVERIFY2(target.restoreAfterFailure(), c.name);
            QVERIFY2(fs::exists(path) == c.after.has_value(), c.name);
            if (c.after)
                QVERIFY2(bw::test::readFile(path) == *c.after, c.name);
        }
    }

    void leavesAFolderInTheWayAlone()
    {
        bw::test::TempDir dir;
        const fs::path path = dir / "name.txt";
        fs::create_directories(path);
        const DownloadTarget target(path.string());
        QVERIFY(target.restoreAfterFailure());
        QVERIFY(fs::is_directory(path));

        // Something that appeared meanwhile in the place of a file that did not exist is not ours.
        const fs::path later = dir / "later.txt";
        const DownloadTarget fresh(later.string());
        fs::create_directories(later);
        QVERIFY(fresh.restoreAfterFailure());
        QVERIFY(fs::is_directory(later));
    }
};

QTEST_MAIN(DownloadTargetTest)
#include "download_target_test.moc"
