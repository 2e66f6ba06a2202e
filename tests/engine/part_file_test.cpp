// SPDX-License-Identifier: MIT
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "engine/part_file.h"
#include "support/temp_dir.h"

namespace bw::engine {
namespace {

using test::readFile;
using test::writeFile;

// What a plan decides from the files already there; the listed size is 4 bytes.
TEST(PartFileTest, PlanFollowsTheFilesThere)
{
    struct Case
    {
        const char *name;
        std::optional<std::string> local; // the file at the local name
        std::optional<std::string> part; // the part file
        IfFileExists rule;
        bool started;
        PartFile::Start start;
        const char *writes; // the name written, relative to the folder
    };

    using enum PartFile::Start;
    const Case cases[] = {
        {"complete local file", "abcd", std::nullopt, IfFileExists::Skip, false, Complete, "f"},
        {"complete part file", std::nullopt, "abcd", IfFileExists::Rename, false, Complete, "f.part"},
        {"part resumed beside a file", "xy", "ab", IfFileExists::Rename, false, Transfer, "f.part"},
        {"skip with a part file", "xy", "ab", IfFileExists::Skip, false, Skip, "f.part"},
        {"a part file wins over the bare name", "ab", "a", IfFileExists::Rename, true, Transfer, "f.part"},
        {"a longer bare name is not resumed", "abcdef", std::nullopt, IfFileExists::Rename, true, Transfer,
            "f.part"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        if (c.local)
            writeFile(dir / "f", *c.local);
        if (c.part)
            writeFile(dir / "f.part", *c.part);
        const PartFile plan = PartFile::plan((dir / "f").string(), 4, c.rule, c.started);
        EXPECT_EQ(plan.start(), c.start);
        EXPECT_EQ(plan.writePath(), (dir / c.writes).string());
        EXPECT_EQ(readFile(dir / "f"), c.local.value_or(""));
    }
}

// The name may be taken only while the file arrives: the rule still applies, and nothing the user had
// changes without Overwrite.
TEST(PartFileTest, FinishingUnderANameThatAppearedMeanwhile)
{
    struct Case
    {
        const char *name;
        IfFileExists rule;
        const char *finalName; // where the new bytes end
        const char *localAfter; // the bytes at the local name afterwards
    };

    const Case cases[] = {
        {"rename takes the first free number", IfFileExists::Rename, "f (2).txt", "theirs"},
        {"overwrite replaces it", IfFileExists::Overwrite, "f.txt", "ours"},
        {"skip keeps the part file", IfFileExists::Skip, "f.txt.part", "theirs"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string local = (dir / "f.txt").string();
        PartFile plan = PartFile::plan(local, -1, c.rule, false);
        ASSERT_EQ(plan.start(), PartFile::Start::Transfer);
        writeFile(plan.writePath(), "ours");
        writeFile(local, "theirs");
        writeFile(dir / "f (1).txt", "older");
        EXPECT_TRUE(plan.finish(true));
        EXPECT_EQ(plan.finalPath(), (dir / c.finalName).string());
        EXPECT_EQ(readFile(plan.finalPath()), "ours");
        EXPECT_EQ(readFile(local), c.localAfter);
        EXPECT_EQ(readFile(dir / "f (1).txt"), "older");
    }
}

} // namespace
} // namespace bw::engine
