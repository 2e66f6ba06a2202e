// SPDX-License-Identifier: MIT
#include "engine/engine.h"

#include "core/diagnostic_log.h"
#include "core/queue_list.h"
#include "engine/settings_store.h"

namespace bw::engine {

namespace {

// The log first: the workers write to it from their first connection on.
bool openDiagnosticLog(const EngineOptions &options)
{
    if (options.diagnosticLogPath.empty())
        return false;
    core::DiagnosticLog::instance().open(options.diagnosticLogPath, options.diagnosticLogThreshold);
    return true;
}

std::unique_ptr<CertificateTrustStore> loadTrustStore(const std::string &path)
{
    auto store = std::make_unique<CertificateTrustStore>(path);
    store->load(); // an unreadable file trusts nothing; it is not written over
    return store;
}

// The jobs read the engine's trust store and share its limits and file-name case unless the caller brought
// its own.
TransferJobTiming withEngineParts(TransferJobTiming timing, const CertificateTrustStore &store,
    net::SpeedLimits *limits, const std::atomic<FileNameConversion> &conversion,
    const std::atomic<IfFileExists> &ifFileExists, const std::atomic<bool> &keepServerTimes,
    LeaseBoard &leases, const KeyPassphrases &passphrases, RemoteTreeBounds &treeBounds,
    const std::atomic<int> &maxSegments, const ProxyChoice &proxies)
{
    if (!timing.maxSegments)
        timing.maxSegments = &maxSegments;
    timing.trustStore = &store;
    if (!timing.proxies)
        timing.proxies = &proxies;
    if (!timing.keyPassphrases)
        timing.keyPassphrases = &passphrases;
    if (!timing.treeBounds)
        timing.treeBounds = &treeBounds;
    if (!timing.leases)
        timing.leases = &leases;
    if (!timing.speedLimits)
        timing.speedLimits = limits;
    if (!timing.fileNameConversion)
        timing.fileNameConversion = &conversion;
    if (!timing.ifFileExists)
        timing.ifFileExists = &ifFileExists;
    if (!timing.keepServerTimes)
        timing.keepServerTimes = &keepServerTimes;
    return timing;
}

} // namespace

Engine::Engine(const EngineOptions &options)
    : m_logOpened(openDiagnosticLog(options))
    , m_trustStore(loadTrustStore(options.trustStorePath))
    , m_speedLimits(std::make_unique<net::SpeedLimits>())
    , m_queue(std::make_unique<core::QueueList>(
          options.clock ? *options.clock : platform::SystemClock::instance()))
    , m_leases(std::make_unique<LeaseBoard>())
    , m_scheduler(std::make_unique<Scheduler>(options.schedulerTiming,
          withEngineParts(options.jobTiming, *m_trustStore, m_speedLimits.get(), m_fileNameConversion,
              m_ifFileExists, m_keepServerTimes, *m_leases, m_keyPassphrases, m_treeBounds, m_maxSegments,
              m_proxies)))
{
    m_keyring = options.jobTiming.keyring;
    m_scheduler->setQueue(m_queue.get());
    m_scheduler->setLocalFolder(options.localFolder);
    // New items start a worker now rather than at the next pass.
    m_queue->setWorkAddedListener([scheduler = m_scheduler.get()] { scheduler->wake(); });
}

Engine::~Engine()
{
    stopAndWait();
    // Collect the thread now, so nothing of it is left for the scheduler's destructor to wait for.
    m_scheduler->isFinished();
    m_queue->setWorkAddedListener(nullptr);
    m_scheduler.reset();
    m_leases.reset();
    m_queue.reset();
    if (m_logOpened)
        core::DiagnosticLog::instance().close();
}

bool Engine::start()
{
    return m_scheduler->startScheduler();
}

void Engine::stop()
{
    m_scheduler->stop();
}

bool Engine::waitUntilStoppedFor(int timeoutMs)
{
    return m_scheduler->waitUntilStoppedFor(timeoutMs);
}

void Engine::stopAndWait()
{
    m_scheduler->stop();
    m_scheduler->waitUntilStopped();
}

bool Engine::isRunning() const
{
    return m_scheduler->isRunning();
}

Settings Engine::loadSettings(const SettingsStore &store)
{
    const Settings settings = engine::loadSettings(store);
    applySettings(settings);
    return settings;
}

void Engine::applySettings(const Settings &s)
{
    m_scheduler->setDownloadPath(s.downloadPath);
    m_scheduler->setMaxThreads(s.maxThreads);
    m_queue->setDefaults({s.retryTime, s.maxThreadsPerSite, s.timeout, s.retryCount, s.passive});
    m_scheduler->setUseDownloadPath(s.useDownloadPath);
    m_scheduler->setLongLocalPaths(s.longLocalPaths);
    m_speedLimits->setMaxKBps(s.maxSpeed);
    m_speedLimits->setMinKBps(s.minSpeed);
    m_fileNameConversion.store(s.fileNameConversion);
    m_ifFileExists.store(s.ifFileExists);
    m_keepServerTimes.store(s.keepServerTimes);
    m_maxSegments.store(s.maxSegments);
    m_proxies.setSettings(s.proxy);
}

Settings Engine::currentSettings(Settings s) const
{
    s.systemTray = false;
    s.downloadPath = m_scheduler->downloadPath();
    s.maxThreads = m_scheduler->maxThreads();
    const core::QueueDefaults defaults = m_queue->defaults();
    s.maxThreadsPerSite = defaults.perSiteLimit;
    s.retryTime = defaults.retryTime;
    s.retryCount = defaults.retryCount;
    s.timeout = defaults.timeout;
    s.passive = defaults.passive;
    s.useDownloadPath = m_scheduler->useDownloadPath();
    s.longLocalPaths = m_scheduler->longLocalPaths();
    s.maxSpeed = m_speedLimits->maxKBps();
    s.minSpeed = m_speedLimits->minKBps();
    s.fileNameConversion = m_fileNameConversion.load();
    s.ifFileExists = m_ifFileExists.load();
    s.keepServerTimes = m_keepServerTimes.load();
    s.maxSegments = m_maxSegments.load();
    s.proxy = m_proxies.settings();
    return s;
}

void Engine::saveSettings(SettingsStore &store, const Settings &windowSettings) const
{
    engine::saveSettings(store, currentSettings(windowSettings));
}

std::string Engine::localFolder() const
{
    return m_scheduler->localFolder();
}

void Engine::setLocalFolder(const std::string &folder)
{
    m_scheduler->setLocalFolder(folder);
}

LocalPathOptions Engine::localPathOptions() const
{
    LocalPathOptions options = m_scheduler->localPathOptions();
    options.fileNameConversion = m_fileNameConversion.load();
    return options;
}

} // namespace bw::engine
