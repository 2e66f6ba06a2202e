// SPDX-License-Identifier: MIT
#include <optional>

#include <gtest/gtest.h>

#include "engine/memory_settings_store.h"
#include "engine/settings.h"

namespace bw::engine {
namespace {

TEST(SettingsTest, EmptyStoreGivesTheDefaults)
{
    const MemorySettingsStore store;
    const Settings s = loadSettings(store);
    EXPECT_FALSE(s.systemTray);
    EXPECT_EQ(s.downloadPath, "");
    EXPECT_EQ(s.maxThreads, 10);
    EXPECT_EQ(s.maxThreadsPerSite, 1);
    EXPECT_EQ(s.retryTime, 30);
    EXPECT_EQ(s.retryCount, 10);
    EXPECT_EQ(s.timeout, 30);
    EXPECT_TRUE(s.hidePassword);
    EXPECT_TRUE(s.minimizeTray);
    EXPECT_TRUE(s.passive); // new settings; a stored 0 still reads as active (below)
    EXPECT_TRUE(s.showSiteStart);
    EXPECT_FALSE(s.timeStamp);
    EXPECT_FALSE(s.useDownloadPath);
    EXPECT_FALSE(s.longLocalPaths);
    EXPECT_EQ(s.maxSpeed, 0);
    EXPECT_EQ(s.minSpeed, 0);
    EXPECT_EQ(s.fileNameConversion, FileNameConversion::None);
}

TEST(SettingsTest, SaveWritesEveryKeyButSystemTrayAndLoadsBack)
{
    MemorySettingsStore store;
    Settings s;
    s.systemTray = true;
    s.downloadPath = "/home/u/dl";
    s.maxThreads = 40;
    s.maxThreadsPerSite = 0;
    s.retryTime = -5;
    s.retryCount = 3;
    s.timeout = 7;
    s.hidePassword = false;
    s.minimizeTray = false;
    s.passive = true;
    s.showSiteStart = false;
    s.timeStamp = true;
    s.useDownloadPath = true;
    s.longLocalPaths = true;
    s.monitorClipboard = true;
    s.extractClipboard = true;
    s.maxSpeed = 5000;
    s.minSpeed = 12;
    s.fileNameConversion = FileNameConversion::Lowercase;
    s.ifFileExists = IfFileExists::Skip;
    s.passwordsInFiles = true;
    s.keepServerTimes = false;
    s.maxSegments = 6;
    saveSettings(store, s);

    EXPECT_EQ(store.size(), 29u); // with the six of the proxy
    EXPECT_EQ(store.readInt("Options", "PasswordsInFiles", 9), 1);
    EXPECT_EQ(store.readInt("Options", "KeepServerTimes", 9), 0);
    EXPECT_EQ(store.readInt("Options", "MaxSegments", 9), 6);
    EXPECT_EQ(store.readInt("Options", "IfFileExists", 9), 2);
    EXPECT_EQ(store.readInt("Options", "MaxSpeed", 9), 5000);
    EXPECT_EQ(store.readInt("Options", "MinSpeed", 9), 12);
    EXPECT_EQ(store.readInt("Options", "FilenameConversion", 9), 2);
    EXPECT_EQ(store.readInt("Options", "MonitorClipboard", 9), 1);
    EXPECT_EQ(store.readInt("Options", "VerifyClipboard", 9), 0);
    EXPECT_EQ(store.readInt("Options", "ExtractClipboard", 9), 1);
    EXPECT_FALSE(store.contains("Options", "SystemTray"));
    EXPECT_EQ(store.readString("Paths", "DownloadPath", "x"), "/home/u/dl");
    EXPECT_EQ(store.readInt("Options", "Passive", 9), 1);
    EXPECT_EQ(store.readInt("Options", "HidePassword", 9), 0);

    Settings expected = s;
    expected.systemTray = false;
    EXPECT_EQ(loadSettings(store), expected);
}

TEST(SettingsTest, AnyNonZeroIntegerReadsAsTrue)
{
    MemorySettingsStore store;
    store.writeInt("Options", "SystemTray", 1);
    store.writeInt("Options", "Passive", -3);
    store.writeInt("Options", "LongLocalPaths", 2);
    store.writeInt("Options", "HidePassword", 0);
    const Settings s = loadSettings(store);
    EXPECT_TRUE(s.systemTray);
    EXPECT_TRUE(s.passive);
    EXPECT_TRUE(s.longLocalPaths);
    EXPECT_FALSE(s.hidePassword);
}

// Passive is the default of new settings only: a file that chose active mode keeps it.
TEST(SettingsTest, AStoredActiveModeStaysActive)
{
    MemorySettingsStore store;
    store.writeInt("Options", "Passive", 0);
    EXPECT_FALSE(loadSettings(store).passive);
}

TEST(SettingsTest, AnUnknownFileNameConversionReadsAsNone)
{
    const std::pair<int, FileNameConversion> cases[] = {
        {-1, FileNameConversion::None},
        {0, FileNameConversion::None},
        {1, FileNameConversion::Uppercase},
        {2, FileNameConversion::Lowercase},
        {3, FileNameConversion::None},
    };
    for (const auto &[stored, expected] : cases) {
        MemorySettingsStore store;
        store.writeInt("Options", "FilenameConversion", stored);
        EXPECT_EQ(loadSettings(store).fileNameConversion, expected) << stored;
    }
}

// A settings file from before the key, or with a value this version does not know, renames.
TEST(SettingsTest, AnAbsentOrUnknownIfFileExistsReadsAsRename)
{
    const std::pair<std::optional<int>, IfFileExists> cases[] = {
        {std::nullopt, IfFileExists::Rename},
        {0, IfFileExists::Rename},
        {1, IfFileExists::Overwrite},
        {2, IfFileExists::Skip},
        {3, IfFileExists::Rename},
        {-1, IfFileExists::Rename},
    };
    for (const auto &[stored, expected] : cases) {
        MemorySettingsStore store;
        if (stored)
            store.writeInt("Options", "IfFileExists", *stored);
        EXPECT_EQ(loadSettings(store).ifFileExists, expected) << stored.value_or(-99);
    }
}

} // namespace
} // namespace bw::engine
