// SPDX-License-Identifier: MIT
// bellwick-cli: runs the transfer queue without a window until its work is done, then saves it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "cli_lines.h"
#include "cli_notifier.h"
#include "cli_options.h"
#include "core/queue_list.h"
#include "core/url.h"
#include "core/url_password_mask.h"
#include "engine/engine.h"
#include "engine/ini_settings_store.h"
#include "engine/keyring_login.h"
#include "engine/keyring_queue.h"
#include "engine/keyring_service.h"
#include "engine/local_path.h"
#include "engine/queue_file.h"
#include "engine/settings.h"
#include "platform/file_util.h"
#include "progress_display.h"
#include "saved_files.h"

namespace bw::cli {

namespace {

constexpr int kExitFinished = 0;
constexpr int kExitUnfinished = 1;
constexpr int kExitUsage = 2;
constexpr int kExitHostKeyRefused = 3;

std::atomic<int> g_signal{0};

// A "{N}" prefix names the queue item whose settings the new item takes.
struct UrlArgument
{
    std::int32_t parentId = 0;
    std::string url;
};

UrlArgument splitTemplatePrefix(const std::string &text)
{
    UrlArgument arg{0, text};
    const auto close = text.find('}');
    if (!text.starts_with("{") || close == std::string::npos)
        return arg;
    arg.parentId = std::atoi(text.substr(1, close - 1).c_str());
    arg.url = text.substr(close + 1);
    arg.url.erase(0, std::min(arg.url.find_first_not_of('}'), arg.url.size()));
    return arg;
}

engine::Settings settingsForRun(const CliOptions &o)
{
    engine::Settings s =
        engine::loadSettings(engine::IniSettingsStore(engine::IniSettingsStore::defaultPath()));
    if (o.maxThreads)
        s.maxThreads = *o.maxThreads;
    if (o.perSite)
        s.maxThreadsPerSite = *o.perSite;
    if (o.retryTime)
        s.retryTime = *o.retryTime;
    if (o.timeout)
        s.timeout = *o.timeout;
    if (o.maxSpeed)
        s.maxSpeed = *o.maxSpeed;
    if (o.minSpeed)
        s.minSpeed = *o.minSpeed;
    if (o.ifExists)
        s.ifFileExists = *o.ifExists;
    if (o.segments)
        s.maxSegments = *o.segments;
    if (o.passive)
        s.passive = true;
    else if (o.active)
        s.passive = false;
    if (o.longPaths)
        s.longLocalPaths = true;
    // A folder given here wins over the download folder of the settings.
    if (o.directory)
        s.useDownloadPath = false;
    return s;
}

// Decides when the run is over: every item done; or, unless asked to keep running, nothing in progress
// and every item left has ended often enough. The queue counts every end of an item itself (the queue's
// attempt count rises only when a worker comes to a site afresh), and takes no item that has ended as
// often as it may: ends counted here by their time stamps would miss the ends of a second.
class RunEnd
{
public:
    explicit RunEnd(const CliOptions &options)
        : m_options(options)
    {}

    // The limit for the queue's selection, so that no item is tried once more while the run winds down.
    int tryLimit() const
    {
        if (m_options.keepRunning)
            return -1;
        return m_options.tries ? std::max(*m_options.tries, 1) : 0;
    }

    bool isOver(core::QueueList &queue, const CliNotifier &notifier) const
    {
        bool allDone = true;
        bool allTried = true;
        const std::set<std::int32_t> &parked = notifier.parkedItems();
        // One small record per item, without the texts: the queue may hold thousands of items.
        for (const core::ItemState &item : queue.states()) {
            if (core::isDoneStatus(item.status))
                continue;
            allDone = false;
            // A manual connection parked for the window is as far as this runner can take it.
            if (parked.count(item.id))
                continue;
            const int tries = m_options.tries ? std::max(*m_options.tries, 1) : item.retryCount;
            // Items no worker takes count as tried, and so do those that waiting cannot mend.
            if (core::isInProgressStatus(item.status)
                || (core::isEligibleStatus(item.status) && !item.endedForGood && item.ends < tries))
                allTried = false;
        }
        // Nothing in progress is as good as no job alive: a job between two items holds none, and the
        // scheduler may already have started the next one for a retry.
        return allDone || (!m_options.keepRunning && allTried);
    }

private:
    const CliOptions &m_options;
};

// The signals the runner takes on its own thread; SIGUSR1 only ends that thread.
sigset_t handledSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    return signals;
}

void waitForSignals(CliNotifier *notifier)
{
    const sigset_t signals = handledSignals();
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {}
    if (signal == SIGUSR1)
        return;
    g_signal.store(signal);
    notifier->wake();
}

void printSummary(core::QueueList &queue)
{
    for (const core::QueueItem &item : queue.snapshot()) {
        if (item.isDone())
            continue;
        std::fprintf(stderr, "%s\n", failureLine(item).c_str());
    }
}

// How long the keyring may take to answer the probe, and to take the passwords before the last save.
constexpr int kKeyringProbeMs = 1000;
constexpr int kKeyringStoreMs = 5000;

bool queueHoldsPassword(core::QueueList &queue)
{
    return std::ranges::any_of(queue.snapshot(),
        [](const core::QueueItem &item) { return engine::splitPassword(item.url).has_value(); });
}

int run(const CliOptions &o)
{
    for (const auto &text : o.urls) {
        core::Url url;
        if (!core::parseUrl(splitTemplatePrefix(text).url, url)) {
            std::fprintf(stderr, "URL parsing error: %s\n", core::maskPasswordsInText(text).c_str());
            return kExitUsage;
        }
    }

    const engine::Settings settings = settingsForRun(o);
    // Downloads without a download folder land in --dir, else in the folder the runner started in.
    engine::EngineOptions engineOptions;
    engineOptions.localFolder = platform::absolutePath(o.directory.value_or(".")).string();
    // The certificates trusted in the window are trusted here too.
    engineOptions.trustStorePath = engine::defaultTrustStorePath().string();
    engineOptions.jobTiming.tlsInsecure = o.insecure;
    engineOptions.jobTiming.trustedHostKey = o.trustedHostKey.value_or("");
    // The desktop keyring keeps the queue's passwords when there is one; the probe never starts a bus
    // and gives up quickly, so a machine without one runs as before.
    engine::KeyringService keyring(kKeyringProbeMs);
    keyring.setUsedForFiles(!settings.passwordsInFiles);
    engineOptions.jobTiming.keyring = &keyring;
    engine::Engine engine(engineOptions);
    engine.applySettings(settings);
    engine.proxies().setOverride(o.proxy, o.noProxy);
    core::QueueList &queue = engine.queue();

    std::filesystem::path queuePath;
    if (o.queueFile) {
        // Absolute now: a later change of the working directory must not move the saved queue.
        queuePath = platform::absolutePath(*o.queueFile);
        std::error_code error;
        if (!std::filesystem::exists(queuePath, error)) {
            if (std::FILE *created = std::fopen(queuePath.c_str(), "wbx")) {
                std::fclose(created);
            } else {
                std::fprintf(stderr, "Cannot create the queue file %s\n", queuePath.c_str());
                return kExitUsage;
            }
        }
        engine::loadQueueFile(queuePath, queue, &keyring);
    }

    for (std::size_t index = 0; index < o.urls.size(); ++index) {
        const UrlArgument arg = splitTemplatePrefix(o.urls[index]);
        const std::string localPath = engine::buildLocalPath(engine.localPathOptions(), arg.url);
        const std::int32_t id = queue.addItem(arg.url, localPath, arg.parentId, -1, -1, -1, -1);
        if (const auto checksum = o.checksums.find(index); checksum != o.checksums.end() && id != 0)
            queue.setChecksum(id, checksum->second);
    }

    if (!queuePath.empty() && !settings.passwordsInFiles && queueHoldsPassword(queue)
        && keyring.waitForProbe(kKeyringProbeMs) != engine::KeyringService::State::Available)
        std::fprintf(stderr, "%s\n", engine::kNoKeyringWarning);

    RunEnd runEnd(o);
    queue.setTryLimit(runEnd.tryLimit());

    SavedFiles savedFiles;
    // The workers post; this thread drains at each look. No wake-up: waking for each of the thousands of
    // events a tree of small files makes would cost more than the look saves.
    core::QueueEvents events(queue);
    CliNotifier notifier(
        queue, events, engine.leases(), savedFiles, o.verbose, settings.timeStamp, settings.hidePassword);
    queue.setNotifier(&events);
    std::thread signalThread(waitForSignals, &notifier);

    ProgressDisplay progress(queue, notifier.outputMutex(), !o.verbose && !o.quiet && isatty(STDERR_FILENO));
    auto reportSaved = [&] {
        const std::vector<SavedFile> saved = savedFiles.takeFinished(queue);
        savedFiles.dropReported(queue);
        if (saved.empty() || o.quiet)
            return;
        // Between two redraws, so the progress lines are not written over.
        progress.clear();
        std::lock_guard lock{notifier.outputMutex()};
        for (const SavedFile &file : saved)
            std::printf("%s\n", savedFileLine(file).c_str());
        std::fflush(stdout);
    };
    auto reportFailures = [&] {
        const std::vector<std::string> lines = notifier.takeFailureLines();
        if (lines.empty())
            return;
        progress.clear();
        std::lock_guard lock{notifier.outputMutex()};
        for (const std::string &line : lines)
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    };
    engine.start();
    // Changes come by the thousand with many small files: look at the queue at most every 100 ms.
    using Clock = std::chrono::steady_clock;
    auto lastLook = Clock::now() - std::chrono::seconds(1);
    std::uint64_t savedSegmentRevision = queue.segmentStateRevision();
    constexpr auto kLookInterval = std::chrono::milliseconds(100);
    while (g_signal.load() == 0) {
        const auto sinceLook = Clock::now() - lastLook;
        if (sinceLook >= kLookInterval) {
            notifier.drain();
            // A download in segments keeps its ranges in the queue: saved as they change, so that even a
            // killed run resumes every segment.
            if (const std::uint64_t revision = queue.segmentStateRevision();
                !queuePath.empty() && revision != savedSegmentRevision) {
                savedSegmentRevision = revision;
                engine::saveQueueFile(queuePath, queue, &keyring);
            }
            const bool over =
                runEnd.isOver(queue, notifier) || notifier.hostKeyRefused() || notifier.keyNeedsAgent();
            reportSaved();
            reportFailures();
            if (over)
                break;
            progress.update();
            lastLook = Clock::now();
            continue;
        }
        // Only a signal ends the wait early: waking for each of the thousands of changes a tree of
        // small files makes would cost the workers more than the look saves.
        notifier.waitForChange(
            static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(kLookInterval - sinceLook).count())
            + 1);
    }
    progress.clear();
    // The signal thread uses the notifier: it ends before the notifier does.
    pthread_kill(signalThread.native_handle(), SIGUSR1);
    signalThread.join();
    engine.stopAndWait();
    queue.setNotifier(nullptr);
    notifier.drain(); // what the workers posted while they ended
    reportSaved();
    // A parked request that its job took again ended Idle when the job stopped: it still waits for
    // the window.
    for (const std::int32_t id : notifier.parkedItems()) {
        const std::optional<core::QueueItem> item = queue.snapshot(id);
        if (item && item->status == core::ItemStatus::StatusIdle)
            queue.setStatus(id, core::ItemStatus::StatusReconnectAfterTransfers);
    }

    if (!queuePath.empty())
        engine::sendQueuePasswords(queue, keyring, kKeyringStoreMs);
    if (!queuePath.empty() && !engine::saveQueueFile(queuePath, queue, &keyring))
        std::fprintf(stderr, "Cannot save the queue file %s\n", queuePath.c_str());
    printSummary(queue);

    if (const int signal = g_signal.load(); signal != 0)
        return 128 + signal;
    if (notifier.hostKeyRefused())
        return kExitHostKeyRefused;
    for (const core::ItemState &item : queue.states()) {
        if (!core::isDoneStatus(item.status))
            return kExitUnfinished;
    }
    return kExitFinished;
}

} // namespace

} // namespace bw::cli

int main(int argc, char **argv)
{
    using namespace bw;
    using namespace bw::cli;
    // The signals are taken by a thread of their own; every other thread blocks them.
    const sigset_t signals = handledSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const ParsedCommandLine parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "bellwick-cli: %s\n\n%s", parsed.error.c_str(), usageText());
        return kExitUsage;
    }
    if (parsed.options.version) {
        std::printf("%s\n", versionText().c_str());
        return kExitFinished;
    }
    if (parsed.options.help) {
        std::fputs(usageText(), stdout);
        const engine::Settings settings = settingsForRun({});
        std::error_code error;
        const std::string here = std::filesystem::current_path(error).string();
        std::fputs(downloadFolderLine(settings.useDownloadPath, settings.downloadPath, here).c_str(), stdout);
        return kExitFinished;
    }
    return run(parsed.options);
}
