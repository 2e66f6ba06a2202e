// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "engine/ini_settings_store.h"
#include "engine/settings.h"
#include "support/temp_dir.h"

namespace bw::engine {
namespace {

TEST(IniSettingsStoreTest, ReadsTheGroupsOfTheWindowsSettingsFile)
{
    test::TempDir dir;
    test::writeFile(dir / "Bellwick.conf",
        "[General]\nMaxThreads=99\n\n"
        "[Options]\r\nMaxThreads=4\r\nPassive=true\r\nLongLocalPaths=1\r\n"
        "HidePassword=false\r\n; a comment\r\nTimeout = 12 \r\n"
        "[Paths]\nDownloadPath=\"/home/u/my, files\"\n");
    const IniSettingsStore store(dir / "Bellwick.conf");
    const Settings s = loadSettings(store);
    EXPECT_EQ(s.maxThreads, 4);
    EXPECT_TRUE(s.passive);
    EXPECT_TRUE(s.longLocalPaths);
    EXPECT_FALSE(s.hidePassword);
    EXPECT_EQ(s.timeout, 12);
    EXPECT_EQ(s.retryTime, 30);
    EXPECT_EQ(s.downloadPath, "/home/u/my, files");
}

TEST(IniSettingsStoreTest, MissingFileGivesTheDefaults)
{
    test::TempDir dir;
    const IniSettingsStore store(dir / "absent.conf");
    EXPECT_EQ(loadSettings(store), Settings{});
}

TEST(IniSettingsStoreTest, NumbersThatDoNotParseKeepTheDefault)
{
    const auto store = IniSettingsStore::fromText("[Options]\nMaxThreads=many\nRetryTime=-5\n");
    EXPECT_EQ(store.readInt("Options", "MaxThreads", 10), 10);
    EXPECT_EQ(store.readInt("Options", "RetryTime", 30), -5);
}

TEST(IniSettingsStoreTest, UnescapesStoredValues)
{
    const struct
    {
        const char *raw;
        const char *expected;
    } cases[] = {
        {"plain", "plain"},
        {"\"a, b\"", "a, b"},
        {"back\\\\slash", "back\\slash"},
        {"quote\\\"d", "quote\"d"},
        {"line\\nbreak", "line\nbreak"},
        {"caf\\xe9", "caf\xc3\xa9"},
        {"@String(@at)", "@at"},
    };

    for (const auto &c : cases)
        EXPECT_EQ(unescapeIniValue(c.raw), c.expected) << c.raw;
}

TEST(IniSettingsStoreTest, WritesNeverReachTheFile)
{
    test::TempDir dir;
    test::writeFile(dir / "Bellwick.conf", "[Options]\nMaxThreads=4\n");
    IniSettingsStore store(dir / "Bellwick.conf");
    store.writeInt("Options", "MaxThreads", 7);
    EXPECT_EQ(store.readInt("Options", "MaxThreads", 0), 7);
    EXPECT_EQ(test::readFile(dir / "Bellwick.conf"), "[Options]\nMaxThreads=4\n");
}

} // namespace
} // namespace bw::engine
