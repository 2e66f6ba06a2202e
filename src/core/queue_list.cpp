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

// The site table keeps sites of erased items until it holds this many more than the queue has items.
constexpr std::size_t kSpareSites = 64;

std::int32_t nextId()
{
    return g_nextId.fetch_add(1);
}

} // namespace

QueueList::QueueList(const platform::Clock &clock)
    : m_clock(clock)
{
    m_items.reserve(kInitialCapacity);
    m_ids.reserve(kInitialCapacity);
    m_siteOf.reserve(kInitialCapacity);
    m_order.reserve(kInitialCapacity);
    m_facts.reserve(kInitialCapacity);
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

// ---- the list and its index ----

std::size_t QueueList::indexOf(std::int32_t id) const
{
    if (id == 0)
        return kMissing;
    // The item just added is asked for at once (to show it); it is the last one.
    if (!m_ids.empty() && m_ids.back() == id)
        return m_ids.size() - 1;
    const auto it = std::find(m_ids.begin(), m_ids.end(), id);
    return it == m_ids.end() ? kMissing : static_cast<std::size_t>(it - m_ids.begin());
}

QueueItem *QueueList::find(std::int32_t id)
{
    const std::size_t index = indexOf(id);
    return index == kMissing ? nullptr : &m_items[index];
}

const QueueItem *QueueList::find(std::int32_t id) const
{
    const std::size_t index = indexOf(id);
    return index == kMissing ? nullptr : &m_items[index];
}

void QueueList::append(QueueItem item)
{
    m_ids.push_back(item.id);
    m_siteOf.push_back(siteNumber(item));
    m_order.push_back(m_nextOrder++);
    m_items.push_back(std::move(item));
    m_facts.push_back(factsOf(m_items.size() - 1));
    m_index.add(m_facts.back());
}

void QueueList::eraseAt(std::size_t index)
{
    m_index.remove(m_facts[index]);
    const auto offset = static_cast<std::ptrdiff_t>(index);
    m_items.erase(m_items.begin() + offset);
    m_ids.erase(m_ids.begin() + offset);
    m_siteOf.erase(m_siteOf.begin() + offset);
    m_order.erase(m_order.begin() + offset);
    m_facts.erase(m_facts.begin() + offset);
}

void QueueList::moveToEnd(std::size_t index)
{
    const auto offset = static_cast<std::ptrdiff_t>(index);
    std::rotate(m_items.begin() + offset, m_items.begin() + offset + 1, m_items.end());
    std::rotate(m_ids.begin() + offset, m_ids.begin() + offset + 1, m_ids.end());
    std::rotate(m_siteOf.begin() + offset, m_siteOf.begin() + offset + 1, m_siteOf.end());
    std::rotate(m_order.begin() + offset, m_order.begin() + offset + 1, m_order.end());
    std::rotate(m_facts.begin() + offset, m_facts.begin() + offset + 1, m_facts.end());
    // The largest key so far keeps m_order rising.
    m_order.back() = m_nextOrder++;
    refreshAt(m_items.size() - 1);
}

std::uint32_t QueueList::siteNumber(const QueueItem &item)
{
    return m_sites.number(item.host, item.port, item.user);
}

// Sites whose items are gone keep their numbers; once they are many, number the sites afresh.
void QueueList::renumberSitesIfSparse()
{
    if (m_sites.size() <= 2 * m_items.size() + kSpareSites)
        return;
    m_sites.clear();
    for (std::size_t i = 0; i < m_items.size(); ++i)
        m_siteOf[i] = siteNumber(m_items[i]);
    reindex();
}

ItemFacts QueueList::factsOf(std::size_t index) const
{
    const QueueItem &item = m_items[index];
    ItemFacts facts;
    facts.order = m_order[index];
    facts.site = m_siteOf[index];
    facts.inProgress = item.isInProgress();
    facts.kind = takeKind(item);
    facts.rests = item.statusTime >= 0;
    facts.restEnd = facts.rests ? restEndOf(item.statusTime, item.retryTime) : 0;
    return facts;
}

void QueueList::refreshAt(std::size_t index)
{
    const ItemFacts facts = factsOf(index);
    if (facts == m_facts[index])
        return;
    m_index.remove(m_facts[index]);
    m_facts[index] = facts;
    m_index.add(facts);
}

void QueueList::reindex()
{
    m_index.clear();
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        m_facts[i] = factsOf(i);
        m_index.add(m_facts[i]);
    }
}

std::size_t QueueList::indexOfOrder(std::uint64_t order) const
{
    const auto it = std::lower_bound(m_order.begin(), m_order.end(), order);
    return it == m_order.end() || *it != order ? kMissing : static_cast<std::size_t>(it - m_order.begin());
}

// ---- items ----

void QueueList::setWorkAddedListener(std::function<void()> listener)
{
    std::lock_guard lock{m_receiverMutex};
    m_workAdded = std::move(listener);
}

void QueueList::announceWorkAdded()
{
    std::function<void()> listener;
    {
        std::lock_guard lock{m_receiverMutex};
        listener = m_workAdded;
    }
    if (listener)
        listener();
}

std::int32_t QueueList::addItem(std::string_view url, std::string_view localPath, std::int32_t parentId,
    std::int32_t retryTime, std::int32_t retryCount, std::int32_t timeout, std::int32_t passive)
{
    const std::int32_t id = insertItem(url, localPath, parentId, retryTime, retryCount, timeout, passive);
    if (id != 0)
        announceWorkAdded();
    return id;
}

std::int32_t QueueList::addListedItem(std::string_view url, std::string_view localPath, std::int32_t parentId,
    bool directory, std::int64_t sizeBytes)
{
    const std::int32_t id =
        insertItem(url, localPath, parentId, -1, -1, -1, -1, directory, directory ? -1 : sizeBytes);
    if (id != 0)
        announceWorkAdded();
    return id;
}

std::int32_t QueueList::insertItem(std::string_view url, std::string_view localPath, std::int32_t parentId,
    std::int32_t retryTime, std::int32_t retryCount, std::int32_t timeout, std::int32_t passive,
    bool listedDirectory, std::int64_t listedSize)
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
    item.listedDirectory = listedDirectory;
    item.listedSize = listedSize;
    item.id = nextId();
    const std::int32_t id = item.id;
    append(std::move(item));
    renumberSitesIfSparse();
    return id;
}

void QueueList::appendItems(std::vector<QueueItem> items)
{
    {
        std::lock_guard lock{m_mutex};
        m_items.reserve(m_items.size() + items.size());
        m_ids.reserve(m_ids.size() + items.size());
        m_siteOf.reserve(m_siteOf.size() + items.size());
        m_order.reserve(m_order.size() + items.size());
        m_facts.reserve(m_facts.size() + items.size());
        for (QueueItem &item : items) {
            item.id = nextId();
            append(std::move(item));
        }
        renumberSitesIfSparse();
    }
    announceWorkAdded();
}

bool QueueList::removeItem(std::int32_t id)
{
    bool restMayEnd = false;
    {
        std::lock_guard lock{m_mutex};
        const std::size_t index = indexOf(id);
        if (index == kMissing)
            return true;
        QueueItem &item = m_items[index];
        if (item.isInProgress()) {
            item.abortRequested = true;
            item.removeWhenDone = true;
            return false;
        }
        // An item that ended holds its site at rest; without it the site's other items may be ready.
        restMayEnd = item.statusTime >= 0;
        eraseAt(index);
    }
    if (restMayEnd)
        announceWorkAdded();
    return true;
}

void QueueList::finishItem(std::int32_t id, ItemStatus finalStatus, bool forGood)
{
    constexpr std::int32_t kLoginsTried = 2;
    std::lock_guard lock{m_mutex};
    const std::size_t index = indexOf(id);
    if (index == kMissing)
        return;
    QueueItem &item = m_items[index];
    item.setStatus(finalStatus, m_clock.nowSeconds());
    item.stoppedByUser = false;
    const bool refusedLogin =
        finalStatus == ItemStatus::StatusInvalidUser || finalStatus == ItemStatus::StatusInvalidPassword;
    item.refusedLogins = refusedLogin ? item.refusedLogins + 1 : 0;
    item.endedForGood = forGood || item.refusedLogins >= kLoginsTried;
    moveToEnd(index); // refreshes the item's facts as well
}

bool QueueList::contains(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    return indexOf(id) != kMissing;
}

bool QueueList::isDone(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    const QueueItem *item = find(id);
    return item && item->isDone();
}

std::size_t QueueList::count() const
{
    std::lock_guard lock{m_mutex};
    return m_items.size();
}

// ---- reads ----

std::optional<QueueItem> QueueList::snapshot(std::int32_t id) const
{
    std::lock_guard lock{m_mutex};
    const QueueItem *item = find(id);
    if (!item)
        return std::nullopt;
    return *item;
}

std::vector<QueueItem> QueueList::snapshot() const
{
    std::lock_guard lock{m_mutex};
    return m_items;
}

std::vector<ItemState> QueueList::states() const
{
    std::lock_guard lock{m_mutex};
    std::vector<ItemState> result;
    result.reserve(m_items.size());
    for (const QueueItem &item : m_items)
        result.push_back({item.id, item.status, item.removeWhenDone, item.statusTime, item.retryCount,
            item.ends, item.endedForGood});
    return result;
}

std::vector<std::int32_t> QueueList::ids() const
{
    std::lock_guard lock{m_mutex};
    return m_ids;
}

SavedItems QueueList::savedItems() const
{
    // A guess at the texts' size, so that they are seldom moved while they grow: one more walk over the
    // items to count them would cost more.
    constexpr std::size_t kTextBytesPerItem = 128;
    SavedItems saved;
    std::lock_guard lock{m_mutex};
    saved.texts.reserve(m_items.size() * kTextBytesPerItem);
    saved.items.reserve(m_items.size());
    for (const QueueItem &item : m_items) {
        if (item.isDone() || item.removeWhenDone)
            continue;
        if (item.checksum.isSet())
            saved.checksums.emplace_back(static_cast<std::int32_t>(saved.items.size()), item.checksum);
        saved.texts += item.url;
        saved.texts += item.localPath;
        if (!item.segmentState.empty())
            saved.segmentStates.emplace_back(saved.items.size(), item.segmentState);
        saved.items.push_back({item.url.size(), item.localPath.size(), item.port, item.scheme,
            item.reservedFlag, item.retryTime, item.retryCount, item.timeout, item.passive});
    }
    return saved;
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

QueueItem snapshotOrVanished(const QueueList &queue, std::int32_t id)
{
    if (std::optional<QueueItem> item = queue.snapshot(id))
        return std::move(*item);
    const QueueDefaults defaults = queue.defaults();
    QueueItem vanished;
    vanished.status = ItemStatus::StatusUnknown;
    vanished.automatic = false;
    vanished.abortRequested = true;
    vanished.retryTime = defaults.retryTime;
    vanished.retryCount = defaults.retryCount;
    vanished.timeout = defaults.timeout;
    vanished.passive = defaults.passive;
    return vanished;
}

} // namespace bw::core
