// SPDX-License-Identifier: MIT
// Bellwick's persistent options: the values, their keys and defaults, and reading and writing them
// through a SettingsStore. The window's thread loads them at start-up and saves them when the user
// confirms options and at exit; the `Engine` hands its part to the scheduler and the queue defaults.
#pragma once

#include <string>

#include "engine/local_path.h"
#include "engine/part_file.h"
#include "engine/proxy_choice.h"
#include "engine/settings_store.h"

namespace bw::engine {

inline constexpr const char *kOptionsGroup = "Options";
inline constexpr const char *kPathsGroup = "Paths";

// The engine holds the transfer values; the window keeps systemTray, hidePassword, minimizeTray,
// showSiteStart, timeStamp and the clipboard options itself.
struct Settings
{
    bool systemTray = false; // "Options/SystemTray": start hidden; read only, never written
    std::string downloadPath; // "Paths/DownloadPath"
    int maxThreads = 10; // "Options/MaxThreads"
    int maxThreadsPerSite = 1; // "Options/MaxThreadsPerSite", 0 = no limit
    int retryTime = 30; // "Options/RetryTime", seconds
    int retryCount = 10; // "Options/RetryCount"
    int timeout = 30; // "Options/Timeout", seconds
    bool hidePassword = true; // "Options/HidePassword"
    bool minimizeTray = true; // "Options/MinimizeTray"
    // New settings use passive FTP (active fails behind NAT and most firewalls); a stored value wins.
    bool passive = true; // "Options/Passive"
    bool showSiteStart = true; // "Options/ShowSiteStart"
    bool timeStamp = false; // "Options/TimeStamp"
    bool useDownloadPath = false; // "Options/UseDownloadPath"
    bool longLocalPaths = false; // "Options/LongLocalPaths"
    // The window's clipboard watch: queue copied URLs, ask first, find URLs inside any copied text.
    bool monitorClipboard = false; // "Options/MonitorClipboard"
    bool verifyClipboard = false; // "Options/VerifyClipboard"
    bool extractClipboard = false; // "Options/ExtractClipboard"
    // Speed limits for all transfers together, kB/s (1 kB = 1000 bytes), 0 = off.
    int maxSpeed = 0; // "Options/MaxSpeed": the most all running transfers move together
    int minSpeed = 0; // "Options/MinSpeed": a transfer below it for its time-out ends and resumes later
    // The case of the file names of new downloads.
    FileNameConversion fileNameConversion = FileNameConversion::None; // "Options/FilenameConversion"
    // What a download does when its local name is another file's.
    IfFileExists ifFileExists = IfFileExists::Rename; // "Options/IfFileExists": 0 rename, 1 overwrite, 2 skip
    // Passwords stay in the queue and site files even when a desktop keyring could keep them.
    bool passwordsInFiles = false; // "Options/PasswordsInFiles"
    // A finished download takes the server's modification time where the server tells it.
    bool keepServerTimes = true; // "Options/KeepServerTimes"
    // The most connections one big download uses at once, within the per-site limit; 1 turns it off.
    int maxSegments = 4; // "Options/MaxSegments"
    // Which proxy the connections take (keys in proxy_choice.h).
    ProxySettings proxy{};

    bool operator==(const Settings &) const = default;
};

// Reads every key; an absent key takes the default above. Booleans read true for any non-zero value.
// Nothing is range-checked, but a file-name conversion other than 1 or 2 reads as none, and an
// if-the-file-exists value other than 1 or 2 as rename.
Settings loadSettings(const SettingsStore &store);
// Writes every key but "SystemTray", booleans as 0 or 1.
void saveSettings(SettingsStore &store, const Settings &settings);

} // namespace bw::engine
