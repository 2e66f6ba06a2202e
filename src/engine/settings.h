// SPDX-License-Identifier: MIT
// Bellwick's persistent options: the values, their keys and defaults, and reading and writing them
// through a SettingsStore. The window's thread loads them at start-up and saves them when the user
// confirms options and at exit; the scheduler and the queue defaults are filled from them.
#pragma once

#include <string>

#include "engine/settings_store.h"

namespace bw::core {
class QueueList;
}

namespace bw::engine {

class Scheduler;

inline constexpr const char *kOptionsGroup = "Options";
inline constexpr const char *kPathsGroup = "Paths";

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
    bool passive = false; // "Options/Passive"
    bool showSiteStart = true; // "Options/ShowSiteStart"
    bool timeStamp = false; // "Options/TimeStamp"
    bool useDownloadPath = false; // "Options/UseDownloadPath"
    bool longLocalPaths = false; // "Options/LongLocalPaths"

    bool operator==(const Settings &) const = default;
};

// Reads every key; an absent key takes the default above. Booleans read true for any non-zero value.
// Nothing is range-checked.
Settings loadSettings(const SettingsStore &store);
// Writes every key but "SystemTray", booleans as 0 or 1.
void saveSettings(SettingsStore &store, const Settings &settings);

// Hands the loaded values to their holders: the queue defaults through the queue's setters, the rest
// through the scheduler's. Returns what was loaded (the caller keeps systemTray).
Settings loadSettings(const SettingsStore &store, Scheduler &scheduler, core::QueueList &queue);
// Collects the holders' current values (systemTray false) and writes them.
Settings currentSettings(const Scheduler &scheduler, const core::QueueList &queue);
void applySettings(const Settings &settings, Scheduler &scheduler, core::QueueList &queue);
void saveSettings(SettingsStore &store, const Scheduler &scheduler, const core::QueueList &queue);

} // namespace bw::engine
