// SPDX-License-Identifier: MIT
// One worker of the queue: a thread that takes items from the queue list one after another (items of
// the site it is logged in to first), connects, transfers, expands directories into new items, lends its
// FTP connection for manual browsing, and ends every item with a final status. The scheduler's thread
// starts it and calls checkItem, isBusy and abort concurrently.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/worker_thread.h"

namespace bw::core {
class QueueList;
}

namespace bw::net {
class FtpConnection;
class HttpConnection;
struct ConnectionNotification;
} // namespace bw::net

namespace bw::engine {

struct TransferJobTiming
{
    // How often a job whose connection is lent looks whether it came back.
    std::chrono::milliseconds manualPoll{1000};
    // Redirects followed in one chain before the item fails.
    int maxRedirects = 20;
};

class TransferJob : public core::WorkerThread
{
public:
    explicit TransferJob(TransferJobTiming timing = {});
    ~TransferJob() override;

    // Stores the queue and starts the thread.
    bool start(core::QueueList &queue);
    // Sets the stop request and aborts both connections with `code` (15, 101 or 1025).
    void abort(int code);
    // Aborts with 101 when the current item asks to stop. Called by the scheduler's thread.
    void checkItem();
    bool isBusy() const;
    int currentItem() const;

protected:
    int Run() override;

private:
    struct Site
    {
        std::string host;
        std::string user;
        std::string password;
        int port = 0;

        bool sameAs(const Site &other) const
        {
            return host == other.host && user == other.user && port == other.port;
        }
    };

    // The context both connections report through: the queue and the item being worked on.
    struct EventContext
    {
        core::QueueList *queue = nullptr;
        std::atomic<int> itemId{0};
    };

    static void onConnectionEvent(void *context, const net::ConnectionNotification &notification);

    void status(const std::string &text);
    void changed(int saveFlag, int itemId);
    void setBusy(bool busy);
    void setCurrentItem(int id);
    // True when the job must stop with the item; then the result becomes Idle and the sites are forgotten.
    bool stopCheck(int id);
    void forgetSites();

    void runHttpItem(int id);
    void runFtpItem(int id);
    bool openFtpSite(int id);
    void runManualConnection(int id, bool readStatus);
    bool changeToRemoteDirectory(int id, int scheme, const std::string &path);
    void transferFile(int id, int scheme, const std::string &fileName, const std::string &localPath,
        std::int64_t listedSize);
    void expandRemoteDirectory(int id);
    void expandLocalDirectory(int id, const std::string &localPath);
    void addChild(int id, const std::string &url, const std::string &localPath, const std::string &name);
    void waitForConnectionBack(int id);
    int redirectDepth(int id) const;

    const TransferJobTiming m_timing;
    std::unique_ptr<net::FtpConnection> m_ftp;
    std::unique_ptr<net::HttpConnection> m_http;
    core::QueueList *m_queue = nullptr;
    EventContext m_context;

    mutable std::mutex m_jobLock;
    bool m_busy = false; // guarded by m_jobLock
    int m_currentItem = 0; // guarded by m_jobLock

    // Run-loop state, job thread only.
    Site m_selected;
    Site m_open;
    int m_result = 0;
    bool m_stop = false;
};

} // namespace bw::engine
