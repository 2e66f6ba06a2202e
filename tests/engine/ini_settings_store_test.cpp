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
        // An emoji is two escapes, a surrogate pair; decoded apart they made invalid UTF-8.
        {"\\xd83d\\xde00", "\xf0\x9f\x98\x80"},
        {"a\\xD83D\\xDE00b",
            "a\xf0\x9f\x98\x80"
            "b"},
        {"lone\\xd83d", "lone\xef\xbf\xbd"},
        {"\\xde00low first\\xd83d", "\xef\xbf\xbdlow first\xef\xbf\xbd"},
        {"\\xd83dx", "\xef\xbf\xbdx"},
        {"\\xd83d\\x41",
            "\xef\xbf\xbd"
            "A"},
        {"\\xd83d\\xd83d\\xde00", "\xef\xbf\xbd\xf0\x9f\x98\x80"},
        {"\\xdbff\\xdfff", "\xf4\x8f\xbf\xbf"},
    };

    for (const auto &c : cases)
        EXPECT_EQ(unescapeIniValue(c.raw), c.expected) << c.raw;
}

TEST(IniSettingsStoreTest, AnEmojiDownloadPathSurvivesARoundTrip)
{
    const std::string emojiPath = "/home/u/\xf0\x9f\x98\x80 files, \"new\"";
    test::TempDir dir;
    // Escaped the way older settings files hold it, as UTF-16 units.
    test::writeFile(
        dir / "Bellwick.conf", "[Paths]\nDownloadPath=\"/home/u/\\xd83d\\xde00 files, \\\"new\\\"\"\n");
    const IniSettingsStore store(dir / "Bellwick.conf");
    EXPECT_EQ(loadSettings(store).downloadPath, emojiPath);

    const std::string text = store.toText();
    EXPECT_NE(text.find("\xf0\x9f\x98\x80"), std::string::npos) << text;
    const auto reread = IniSettingsStore::fromText(text);
    EXPECT_EQ(loadSettings(reread).downloadPath, emojiPath);
    EXPECT_EQ(reread.toText(), text);
}

TEST(IniSettingsStoreTest, EveryValueReadsBackAsWritten)
{
    const std::string values[] = {"", "plain", " blanks around ", "a, b; c = d", "back\\slash \"quoted\"",
        "tab\tnew\nline\rcr", std::string("nul\0byte", 8),
        "\x01\x1f"
        "beef\x7f",
        "@String(x)", "@at", "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80", "\xff invalid UTF-8 stays \xc3"};
    IniSettingsStore store;
    int n = 0;
    for (const std::string &value : values)
        store.writeString("Paths", "Key" + std::to_string(n++), value);
    store.writeString("[Odd", "[key", "ends]");
    const auto reread = IniSettingsStore::fromText(store.toText());
    n = 0;
    for (const std::string &value : values)
        EXPECT_EQ(reread.readString("Paths", "Key" + std::to_string(n++), "absent"), value) << value;
    EXPECT_EQ(reread.readString("[Odd", "[key", "absent"), "ends]");
    EXPECT_EQ(reread.toText(), store.toText());
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
