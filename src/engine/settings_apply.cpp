// SPDX-License-Identifier: MIT
#include "core/queue_list.h"
#include "engine/scheduler.h"
#include "engine/settings.h"

namespace bw::engine {

void applySettings(const Settings &s, Scheduler &scheduler, core::QueueList &queue)
{
    scheduler.setDownloadPath(s.downloadPath);
    scheduler.setMaxThreads(s.maxThreads);
    queue.setDefaults({s.retryTime, s.maxThreadsPerSite, s.timeout, s.retryCount, s.passive});
    scheduler.setHidePassword(s.hidePassword);
    scheduler.setMinimizeTray(s.minimizeTray);
    scheduler.setShowSiteStart(s.showSiteStart);
    scheduler.setTimeStamp(s.timeStamp);
    scheduler.setUseDownloadPath(s.useDownloadPath);
    scheduler.setLongLocalPaths(s.longLocalPaths);
}

Settings loadSettings(const SettingsStore &store, Scheduler &scheduler, core::QueueList &queue)
{
    const Settings s = loadSettings(store);
    applySettings(s, scheduler, queue);
    return s;
}

Settings currentSettings(const Scheduler &scheduler, const core::QueueList &queue)
{
    const core::QueueDefaults defaults = queue.defaults();
    Settings s;
    s.systemTray = false;
    s.downloadPath = scheduler.downloadPath();
    s.maxThreads = scheduler.maxThreads();
    s.maxThreadsPerSite = defaults.perSiteLimit;
    s.retryTime = defaults.retryTime;
    s.retryCount = defaults.retryCount;
    s.timeout = defaults.timeout;
    s.hidePassword = scheduler.hidePassword();
    s.minimizeTray = scheduler.minimizeTray();
    s.passive = defaults.passive;
    s.showSiteStart = scheduler.showSiteStart();
    s.timeStamp = scheduler.timeStamp();
    s.useDownloadPath = scheduler.useDownloadPath();
    s.longLocalPaths = scheduler.longLocalPaths();
    return s;
}

void saveSettings(SettingsStore &store, const Scheduler &scheduler, const core::QueueList &queue)
{
    saveSettings(store, currentSettings(scheduler, queue));
}

} // namespace bw::engine
