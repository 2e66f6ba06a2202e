// SPDX-License-Identifier: MIT
#include "engine/settings.h"

namespace bw::engine {

namespace {

bool readBool(const SettingsStore &store, const char *key, bool defaultValue)
{
    return store.readInt(kOptionsGroup, key, defaultValue ? 1 : 0) != 0;
}

void writeBool(SettingsStore &store, const char *key, bool value)
{
    store.writeInt(kOptionsGroup, key, value ? 1 : 0);
}

} // namespace

Settings loadSettings(const SettingsStore &store)
{
    const Settings defaults;
    Settings s;
    s.systemTray = readBool(store, "SystemTray", defaults.systemTray);
    s.downloadPath = store.readString(kPathsGroup, "DownloadPath", defaults.downloadPath);
    s.maxThreads = store.readInt(kOptionsGroup, "MaxThreads", defaults.maxThreads);
    s.maxThreadsPerSite = store.readInt(kOptionsGroup, "MaxThreadsPerSite", defaults.maxThreadsPerSite);
    s.retryTime = store.readInt(kOptionsGroup, "RetryTime", defaults.retryTime);
    s.retryCount = store.readInt(kOptionsGroup, "RetryCount", defaults.retryCount);
    s.timeout = store.readInt(kOptionsGroup, "Timeout", defaults.timeout);
    s.hidePassword = readBool(store, "HidePassword", defaults.hidePassword);
    s.minimizeTray = readBool(store, "MinimizeTray", defaults.minimizeTray);
    s.passive = readBool(store, "Passive", defaults.passive);
    s.showSiteStart = readBool(store, "ShowSiteStart", defaults.showSiteStart);
    s.timeStamp = readBool(store, "TimeStamp", defaults.timeStamp);
    s.useDownloadPath = readBool(store, "UseDownloadPath", defaults.useDownloadPath);
    s.longLocalPaths = readBool(store, "LongLocalPaths", defaults.longLocalPaths);
    s.monitorClipboard = readBool(store, "MonitorClipboard", defaults.monitorClipboard);
    s.verifyClipboard = readBool(store, "VerifyClipboard", defaults.verifyClipboard);
    s.extractClipboard = readBool(store, "ExtractClipboard", defaults.extractClipboard);
    s.maxSpeed = store.readInt(kOptionsGroup, "MaxSpeed", defaults.maxSpeed);
    s.minSpeed = store.readInt(kOptionsGroup, "MinSpeed", defaults.minSpeed);
    s.fileNameConversion = fileNameConversionFromIndex(
        store.readInt(kOptionsGroup, "FilenameConversion", static_cast<int>(defaults.fileNameConversion)));
    s.ifFileExists = ifFileExistsFromIndex(
        store.readInt(kOptionsGroup, "IfFileExists", static_cast<int>(defaults.ifFileExists)));
    s.passwordsInFiles = readBool(store, "PasswordsInFiles", defaults.passwordsInFiles);
    s.keepServerTimes = readBool(store, "KeepServerTimes", defaults.keepServerTimes);
    s.maxSegments = store.readInt(kOptionsGroup, "MaxSegments", defaults.maxSegments);
    s.proxy = loadProxySettings(store);
    return s;
}

void saveSettings(SettingsStore &store, const Settings &s)
{
    store.writeString(kPathsGroup, "DownloadPath", s.downloadPath);
    store.writeInt(kOptionsGroup, "MaxThreads", s.maxThreads);
    store.writeInt(kOptionsGroup, "MaxThreadsPerSite", s.maxThreadsPerSite);
    store.writeInt(kOptionsGroup, "RetryTime", s.retryTime);
    store.writeInt(kOptionsGroup, "RetryCount", s.retryCount);
    store.writeInt(kOptionsGroup, "Timeout", s.timeout);
    writeBool(store, "HidePassword", s.hidePassword);
    writeBool(store, "MinimizeTray", s.minimizeTray);
    writeBool(store, "Passive", s.passive);
    writeBool(store, "ShowSiteStart", s.showSiteStart);
    writeBool(store, "TimeStamp", s.timeStamp);
    writeBool(store, "UseDownloadPath", s.useDownloadPath);
    writeBool(store, "LongLocalPaths", s.longLocalPaths);
    writeBool(store, "MonitorClipboard", s.monitorClipboard);
    writeBool(store, "VerifyClipboard", s.verifyClipboard);
    writeBool(store, "ExtractClipboard", s.extractClipboard);
    store.writeInt(kOptionsGroup, "MaxSpeed", s.maxSpeed);
    store.writeInt(kOptionsGroup, "MinSpeed", s.minSpeed);
    store.writeInt(kOptionsGroup, "FilenameConversion", static_cast<int>(s.fileNameConversion));
    store.writeInt(kOptionsGroup, "IfFileExists", static_cast<int>(s.ifFileExists));
    writeBool(store, "PasswordsInFiles", s.passwordsInFiles);
    writeBool(store, "KeepServerTimes", s.keepServerTimes);
    store.writeInt(kOptionsGroup, "MaxSegments", s.maxSegments);
    saveProxySettings(store, s.proxy);
}

} // namespace bw::engine
