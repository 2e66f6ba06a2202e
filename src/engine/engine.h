// SPDX-License-Identifier: MIT
// src/engine (bw_engine): transfer jobs, the scheduler, the queue file, the settings and the Engine that
// wires them. May use net, core and platform; never Qt.
//
// The transfer engine as one object: the queue, the scheduler over it, the diagnostic log and the
// engine's part of the settings, built in that order, started, and stopped in the reverse order (the
// scheduler and its jobs end before the log closes and the queue goes). The owner's thread calls it;
// the local folder may be set from that thread while workers read it.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "engine/certificate_trust_store.h"
#include "engine/connection_lease.h"
#include "engine/key_passphrases.h"
#include "engine/local_path.h"
#include "engine/remote_tree_bounds.h"
#include "engine/scheduler.h"
#include "engine/settings.h"
#include "net/speed_limits.h"
#include "platform/clock.h"

namespace bw::core {
class QueueList;
}

namespace bw::engine {

class KeyringService;
class SettingsStore;

struct EngineOptions
{
    SchedulerTiming schedulerTiming;
    TransferJobTiming jobTiming;
    // Opened when the engine is built and closed after it stopped; empty: the log stays as it is.
    std::string diagnosticLogPath;
    int diagnosticLogThreshold = 3;
    // Where downloads land when no download folder is used and the caller names none: the folder the
    // user browses locally, or the program's start folder.
    std::string localFolder;
    // The file of certificates the user trusted (defaultTrustStorePath() for the programs); empty: they
    // are kept in memory for this run only.
    std::string trustStorePath;
    // The queue's clock (rest times, time stamps); none: the system's.
    const platform::Clock *clock = nullptr;
};

class Engine
{
public:
    explicit Engine(const EngineOptions &options = {});
    // Stops the scheduler, waits for it and its jobs, then closes the diagnostic log.
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    core::QueueList &queue() { return *m_queue; }

    const core::QueueList &queue() const { return *m_queue; }

    Scheduler &scheduler() { return *m_scheduler; }

    const Scheduler &scheduler() const { return *m_scheduler; }

    // Read by the workers whenever they connect with TLS; the window adds to it.
    CertificateTrustStore &trustStore() { return *m_trustStore; }

    // The key passphrases the user typed this run; the window adds, the logins read.
    KeyPassphrases &keyPassphrases() { return m_keyPassphrases; }

    // The desktop keyring the jobs look passwords up in (EngineOptions' job timing); null for none.
    KeyringService *keyring() const { return m_keyring; }

    // Where the jobs offer their logged-in sessions to the manual browser.
    LeaseBoard &leases() { return *m_leases; }

    // Starts the scheduler when it is stopped; false when it already runs.
    bool start();
    // Asks the scheduler to stop; returns at once.
    void stop();
    // Waits at most timeoutMs for the scheduler (and so every job) to end; true when it has.
    bool waitUntilStoppedFor(int timeoutMs);
    // Stops and waits for the end. Only for owners that need not serve notifications meanwhile.
    void stopAndWait();
    bool isRunning() const;

    // Reads every setting, hands the engine's values to the queue and the scheduler, and returns all
    // of them (the window keeps the ones only it uses).
    Settings loadSettings(const SettingsStore &store);
    // The engine's values go to their holders; the window's values are not the engine's business.
    void applySettings(const Settings &settings);
    // `windowSettings` with the engine's fields replaced by their current values.
    Settings currentSettings(Settings windowSettings = {}) const;
    void saveSettings(SettingsStore &store, const Settings &windowSettings) const;

    std::string localFolder() const;
    void setLocalFolder(const std::string &folder);
    // The scheduler's local path options with the engine's file-name conversion.
    LocalPathOptions localPathOptions() const;

    // The limits every transfer of this engine shares.
    net::SpeedLimits &speedLimits() { return *m_speedLimits; }

    FileNameConversion fileNameConversion() const { return m_fileNameConversion.load(); }

    // Which proxy each connection takes; bellwick-cli sets its overrides here.
    ProxyChoice &proxies() { return m_proxies; }

private:
    const bool m_logOpened; // opened by this engine, so closed by it
    std::unique_ptr<CertificateTrustStore> m_trustStore; // outlives the scheduler, whose jobs read it
    KeyPassphrases m_keyPassphrases; // outlives the scheduler too
    // Before the scheduler, so every job is gone before the limits it uses.
    std::unique_ptr<net::SpeedLimits> m_speedLimits;
    std::atomic<FileNameConversion> m_fileNameConversion{FileNameConversion::None};
    std::atomic<IfFileExists> m_ifFileExists{IfFileExists::Rename};
    std::atomic<bool> m_keepServerTimes{true};
    std::atomic<int> m_maxSegments{4};
    std::unique_ptr<core::QueueList> m_queue;
    std::unique_ptr<LeaseBoard> m_leases; // before the scheduler: its jobs offer leases on it
    RemoteTreeBounds m_treeBounds; // before the scheduler: its jobs record their folder trees in it
    ProxyChoice m_proxies; // before the scheduler: its jobs ask it for their routes
    std::unique_ptr<Scheduler> m_scheduler;
    KeyringService *m_keyring = nullptr; // borrowed; outlives the engine
};

} // namespace bw::engine
