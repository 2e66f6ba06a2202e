// SPDX-License-Identifier: MIT
#include "core/queue_list.h"

#include <algorithm>
#include <atomic>

#include "platform/thread_util.h"

namespace bw::core {

namespace {

// Ids are unique in the whole process and never 0.
std::atomic<std::int32_t> g_nextId{1};

constexpr std::size_t kInitialCapacity = 25;

} // namespace

QueueList::BulkLock::BulkLock(QueueList &list)
    : m_lock(list.m_mutex)
{}

QueueList::QueueList(const platform::Clock &clock)
    : m_clock(clock)
{
    m_items.reserve(kInitialCapacity);
    setRetryTimeDefault(30);
    setPerSiteLimit(1);
    setTimeoutDefault(30);
    setRetryCountDefault(10);
    setPassiveDefault(false);
}

// ---- defaults ----

QueueDefaults QueueList::defaults() const
{
    std::lock_guard lock{m_mutex};
    return m_defaults;
}

void QueueList::setDefaults(const QueueDefaults &defaults)
{
    std::lock_guard lock{m_mutex};
    m_defaults = defaults;
}

std::int32_t QueueList::retryTimeDefault() const
{
    std::lock_guard lock{m_mutex};
    return m_defaults.retryTime;
}

void QueueList::setRetryTimeDefault(std::int32_t seconds)
{
    std::lock_guard lock{m_mutex};
    m_defaults.retryTime = seconds;
}

std::int32_t QueueList::perSiteLimit() const
{
    std::lock_guard lock{m_mutex};
    return m_defaults.perSiteLimit;
}

void QueueList::setPerSiteLimit(std::int32_t limit)
{
    std::lock_guard lock{m_mutex};
    m_defaults.perSiteLimit = limit;
}

std::int32_t QueueList::timeoutDefault() const
{
    std::lock_guard lock{m_mutex};
    return m_defaults.timeout;
}

void QueueList::setTimeoutDefault(std::int32_t seconds)
{
    std::lock_guard lock{m_mutex};
    m_defaults.timeout = seconds;
}

std::int32_t QueueList::retryCountDefault() const
{
    std::lock_guard lock{m_mutex};
    return m_defaults.retryCount;
}

void QueueList::setRetryCountDefault(std::int32_t count)
{
    std::lock_guard lock{m_mutex};
    m_defaults.retryCount = count;
}

bool QueueList::passiveDefault() const
{
    std::lock_guard lock{m_mutex};
    return m_defaults.passive;
}

void QueueList::setPassiveDefault(bool passive)
{
    std::lock_guard lock{m_mutex};
    m_defaults.passive = passive;
}

// ---- lookup helpers ----

QueueItem *QueueList::find(std::int32_t id)
{
    if (id == 0)
        return nullptr;
    auto it =
        std::find_if(m_items.begin(), m_items.end(), [id](const QueueItem &item) { return item.id == id; });
    return it == m_items.end() ? nullptr : &*it;
}

const QueueItem *QueueList::find(std::int32_t id) const
{
    return const_cast<QueueList *>(this)->find(id);
}

template <typename T, typename Get>
T QueueList::read(std::int32_t id, T missing, Get get) const
{
    std::lock_guard lock{m_mutex};
    const QueueItem *item = find(id);
    return item ? T(get(*item)) : missing;
}

template <typename Change>
bool QueueList::change(std::int32_t id, Change change)
{
    std::lock_guard lock{m_mutex};
    QueueItem *item = find(id);
    if (!item)
        return false;
    change(*item);
    return true;
}

std::int32_t QueueList::nextId()
{
    return g_nextId.fetch_add(1);
}

// ---- items ----

std::int32_t QueueList::addItem(std::string_view url, std::string_view localPath, std::int32_t parentId,
    std::int32_t retryTime, std::int32_t retryCount, std::int32_t timeout, std::int32_t passive)
{
    QueueItem item;
    std::lock_guard lock{m_mutex};
    item.retryTime = retryTime == -1 ? m_defaults.retryTime : retryTime;
    item.retryCount = retryCount == -1 ? m_defaults.retryCount : retryCount;
    item.timeout = timeout == -1 ? m_defaults.timeout : timeout;
    item.passive = passive == -1 ? m_defaults.passive : passive > 0;
    if (parentId != 0) {
        if (const QueueItem *parent = find(parentId))
            item.inheritSettings(*parent);
    }
    if (!item.setUrl(url, localPath))
        return 0;
    item.id = nextId();
    m_items.push_back(std::move(item));
    return m_items.back().id;
}

std::int32_t QueueList::appendItem(const BulkLock &, QueueItem item)
{
    std::lock_guard lock{m_mutex};
    item.id = nextId();
    m_items.push_back(std::move(item));
    return m_items.back().id;
}

bool QueueList::removeItem(std::int32_t id)
{
    std::lock_guard lock{m_mutex};
    QueueItem *item = find(id);
    if (!item)
        return true;
    if (item->isInProgress()) {
        item->abortRequested = true;
        item->removeWhenDone = true;
        return false;
    }
    m_items.erase(m_items.begin() + (item - m_items.data()));
    return true;
}

void QueueList::finishItem(std::int32_t id, std::int32_t finalStatus)
{
    std::lock_guard lock{m_mutex};
    QueueItem *item = find(id);
    if (!item)
        return;
    item->setStatus(finalStatus, m_clock.nowSeconds());
    auto it = m_items.begin() + (item - m_items.data());
    std::rotate(it, it + 1, m_items.end());
}

bool QueueList::contains(std::int32_t id) const
{
    return read(id, false, [](const QueueItem &) { return true; });
}

bool QueueList::isDone(std::int32_t id) const
{
    return read(id, false, [](const QueueItem &item) { return item.isDone(); });
}

std::size_t QueueList::count() const
{
    std::lock_guard lock{m_mutex};
    return m_items.size();
}

std::vector<std::int32_t> QueueList::ids() const
{
    std::lock_guard lock{m_mutex};
    std::vector<std::int32_t> result;
    result.reserve(m_items.size());
    for (const QueueItem &item : m_items)
        result.push_back(item.id);
    return result;
}

std::optional<QueueItem> QueueList::snapshot(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    const QueueItem *item = find(id);
    if (!item)
        return std::nullopt;
    return *item;
}

// ---- setters ----

void QueueList::setStatus(std::int32_t id, std::int32_t status)
{
    change(id, [status](QueueItem &item) { item.status = status; });
}

bool QueueList::setUrl(std::int32_t id, std::string_view url)
{
    Url parsed;
    if (!parseUrl(url, parsed))
        return false;
    return change(id, [&](QueueItem &item) {
        item.scheme = parsed.scheme;
        item.host = parsed.host;
        item.user = parsed.user;
        item.password = parsed.password;
        item.path = parsed.path;
        item.fileName = parsed.fileName;
        item.port = parsed.port;
        item.url = url;
    });
}

void QueueList::setRetryTime(std::int32_t id, std::int32_t seconds)
{
    change(id, [seconds](QueueItem &item) { item.retryTime = seconds; });
}

void QueueList::setRetryCount(std::int32_t id, std::int32_t count)
{
    change(id, [count](QueueItem &item) { item.retryCount = count; });
}

void QueueList::setAttempts(std::int32_t id, std::int32_t attempts)
{
    change(id, [attempts](QueueItem &item) { item.attempts = attempts; });
}

void QueueList::setAbortRequested(std::int32_t id, bool requested)
{
    change(id, [requested](QueueItem &item) { item.abortRequested = requested; });
}

void QueueList::setSelected(std::int32_t id, bool selected)
{
    change(id, [selected](QueueItem &item) { item.selected = selected; });
}

void QueueList::setAllSelected(bool selected)
{
    std::lock_guard lock{m_mutex};
    for (QueueItem &item : m_items)
        item.selected = selected;
}

// ---- getters ----

std::string QueueList::host(std::int32_t id) const
{
    return read(id, std::string(), [](const QueueItem &item) { return item.host; });
}

std::string QueueList::user(std::int32_t id) const
{
    return read(id, std::string(), [](const QueueItem &item) { return item.user; });
}

std::string QueueList::password(std::int32_t id) const
{
    return read(id, std::string(), [](const QueueItem &item) { return item.password; });
}

std::string QueueList::path(std::int32_t id) const
{
    return read(id, std::string(), [](const QueueItem &item) { return item.path; });
}

std::string QueueList::fileName(std::int32_t id) const
{
    return read(id, std::string(), [](const QueueItem &item) { return item.fileName; });
}

std::string QueueList::localPath(std::int32_t id) const
{
    return read(id, std::string(), [](const QueueItem &item) { return item.localPath; });
}

std::string QueueList::url(std::int32_t id) const
{
    return read(id, std::string(), [](const QueueItem &item) { return item.url; });
}

std::int32_t QueueList::port(std::int32_t id) const
{
    return read(id, std::int32_t{0}, [](const QueueItem &item) { return item.port; });
}

UrlScheme QueueList::scheme(std::int32_t id) const
{
    return read(id, SchemeNone, [](const QueueItem &item) { return item.scheme; });
}

std::int32_t QueueList::attempts(std::int32_t id) const
{
    return read(id, std::int32_t{0}, [](const QueueItem &item) { return item.attempts; });
}

std::int64_t QueueList::bytesDone(std::int32_t id) const
{
    return read(id, std::int64_t{0}, [](const QueueItem &item) { return item.bytesDone; });
}

std::int64_t QueueList::totalSize(std::int32_t id) const
{
    return read(id, std::int64_t{0}, [](const QueueItem &item) { return item.totalSize; });
}

std::int64_t QueueList::rateKBps(std::int32_t id) const
{
    return read(id, std::int64_t{0}, [](const QueueItem &item) { return item.rateKBps; });
}

std::int32_t QueueList::status(std::int32_t id) const
{
    return read(id, std::int32_t{StatusUnknown}, [](const QueueItem &item) { return item.status; });
}

std::int32_t QueueList::retryTime(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    return read(id, m_defaults.retryTime, [](const QueueItem &item) { return item.retryTime; });
}

std::int32_t QueueList::retryCount(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    return read(id, m_defaults.retryCount, [](const QueueItem &item) { return item.retryCount; });
}

std::int32_t QueueList::timeout(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    return read(id, m_defaults.timeout, [](const QueueItem &item) { return item.timeout; });
}

bool QueueList::passive(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    return read(id, m_defaults.passive, [](const QueueItem &item) { return item.passive; });
}

bool QueueList::automatic(std::int32_t id) const
{
    return read(id, false, [](const QueueItem &item) { return item.automatic; });
}

bool QueueList::abortRequested(std::int32_t id) const
{
    return read(id, true, [](const QueueItem &item) { return item.abortRequested; });
}

bool QueueList::removeWhenDone(std::int32_t id) const
{
    return read(id, false, [](const QueueItem &item) { return item.removeWhenDone; });
}

bool QueueList::isSelected(std::int32_t id) const
{
    return read(id, false, [](const QueueItem &item) { return item.selected; });
}

// ---- transfers ----

void QueueList::transferStarted(std::int32_t id)
{
    change(id, [this](QueueItem &item) { item.transferStarted(m_clock.nowSeconds()); });
}

void QueueList::transferEnded(std::int32_t id)
{
    change(id, [](QueueItem &item) { item.transferEnded(); });
}

void QueueList::lendConnection(std::int32_t id, net::FtpConnection *connection)
{
    change(id, [connection](QueueItem &item) { item.lendConnection(connection); });
}

net::FtpConnection *QueueList::lentConnection(std::int32_t id) const
{
    return read(id, static_cast<net::FtpConnection *>(nullptr),
        [](const QueueItem &item) { return item.manualConnection; });
}

net::FtpConnection *QueueList::borrowConnection(std::int32_t id)
{
    net::FtpConnection *connection = nullptr;
    change(id, [&connection](QueueItem &item) {
        if (!item.manualConnection || item.connectionRecalled)
            return;
        item.connectionBorrowed = true;
        connection = item.manualConnection;
    });
    return connection;
}

void QueueList::leaveConnectionLent(std::int32_t id)
{
    change(id, [](QueueItem &item) { item.connectionBorrowed = false; });
}

bool QueueList::recallConnection(std::int32_t id)
{
    bool back = true;
    change(id, [&back](QueueItem &item) {
        if (!item.manualConnection)
            return;
        if (item.connectionBorrowed) {
            item.connectionRecalled = true;
            back = false;
            return;
        }
        item.manualConnection = nullptr;
        item.connectionRecalled = false;
    });
    return back;
}

bool QueueList::connectionRecalled(std::int32_t id) const
{
    return read(id, true, [](const QueueItem &item) { return item.connectionRecalled; });
}

void QueueList::setProgress(std::int32_t id, std::int64_t bytesDone, std::int64_t totalSize)
{
    bool found =
        change(id, [&](QueueItem &item) { item.setProgress(bytesDone, totalSize, m_clock.nowSeconds()); });
    if (found)
        notifyQueueChanged(false, id);
}

// ---- enumerations ----

std::int32_t QueueList::firstSelectedId()
{
    std::lock_guard lock{m_mutex};
    m_cursor = 0;
    return nextSelectedId();
}

std::int32_t QueueList::nextSelectedId()
{
    std::lock_guard lock{m_mutex};
    while (m_cursor < m_items.size()) {
        const QueueItem &item = m_items[m_cursor++];
        if (item.selected)
            return item.id;
    }
    return 0;
}

std::optional<std::string> QueueList::firstUrl()
{
    std::lock_guard lock{m_mutex};
    m_cursor = 0;
    return nextUrl();
}

std::optional<std::string> QueueList::nextUrl()
{
    std::lock_guard lock{m_mutex};
    if (m_cursor >= m_items.size())
        return std::nullopt;
    return m_items[m_cursor++].url;
}

std::int32_t QueueList::findIdByUrl(std::string_view url) const
{
    std::lock_guard lock{m_mutex};
    for (const QueueItem &item : m_items) {
        if (item.url == url)
            return item.id;
    }
    return 0;
}

// ---- notifications ----

void QueueList::setNotifier(QueueNotifier *notifier, unsigned logSentMessage, unsigned logReceivedMessage,
    unsigned logStatusMessage, unsigned queueChangedMessage)
{
    std::lock_guard lock{m_receiverMutex};
    m_receiver =
        Receiver{notifier, logSentMessage, logReceivedMessage, logStatusMessage, queueChangedMessage};
}

QueueList::Receiver QueueList::receiver() const
{
    std::lock_guard lock{m_receiverMutex};
    return m_receiver;
}

void QueueList::send(
    unsigned Receiver::*message, std::uint64_t wParam, std::int64_t itemId, const std::string &text)
{
    Receiver target = receiver();
    if (target.notifier)
        target.notifier->notify(target.*message, wParam, itemId, text);
}

void QueueList::notifyLogSent(const std::string &text)
{
    send(&Receiver::logSent, platform::currentThreadId(), 0, text);
}

void QueueList::notifyLogReceived(const std::string &text)
{
    send(&Receiver::logReceived, platform::currentThreadId(), 0, text);
}

void QueueList::notifyLogStatus(const std::string &text)
{
    send(&Receiver::logStatus, platform::currentThreadId(), 0, text);
}

void QueueList::notifyQueueChanged(bool mustSave, std::int32_t id)
{
    send(&Receiver::queueChanged, mustSave ? 1 : 0, id, std::string());
}

} // namespace bw::core
