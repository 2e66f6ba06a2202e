// SPDX-License-Identifier: MIT
// The run loop of a transfer job: take an item, run its HTTP or remote-session steps, end it, take the
// next.
#include "engine/transfer_job.h"

#include "core/queue_list.h"
#include "core/url.h"
#include "engine/certificate_trust_store.h"
#include "engine/connection_lease.h"
#include "engine/key_passphrases.h"
#include "engine/keyring_queue.h"
#include "engine/proxy_choice.h"
#include "engine/segmented_http_download.h"
#include "net/connection_notification.h"
#include "net/error_code.h"
#include "net/http_connection.h"
#include "platform/thread_util.h"

namespace bw::engine {

namespace {

bool holdsLineBreak(const std::string &text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

} // namespace

TransferJob::TransferJob(TransferJobTiming timing)
    : m_timing(timing)
    , m_http(std::make_unique<net::HttpConnection>())
{}

TransferJob::~TransferJob()
{
    // The thread must end before the connections it drives go away.
    abort(net::Exiting);
    waitUntilStopped();
    isFinished();
}

bool TransferJob::start(core::QueueList &queue)
{
    m_queue = &queue;
    m_context.queue = &queue;
    return WorkerThread::start();
}

void TransferJob::abort(int code)
{
    m_stopCode.store(code);
    requestStop(true);
    std::shared_ptr<net::RemoteSession> session;
    std::shared_ptr<ConnectionLease> lease;
    {
        std::lock_guard lock{m_jobLock};
        session = m_session;
        lease = m_lease;
        if (m_segmented)
            m_segmented->abort(code); // takes only its own lock, never the job's
    }
    if (session)
        session->requestStop(code);
    m_http->abort(code);
    // The job waits for a lent session: the holder is asked for it, and the wait ends.
    if (lease)
        lease->recall(code);
}

void TransferJob::checkItem()
{
    int id = 0;
    {
        std::lock_guard lock{m_jobLock};
        id = m_currentItem;
    }
    // The queue is asked outside the job lock: the job thread takes the two in the other order.
    if (id != 0 && m_queue && core::snapshotOrVanished(*m_queue, id).abortRequested)
        abort(net::StopByItem);
}

bool TransferJob::isBusy() const
{
    std::lock_guard lock{m_jobLock};
    return m_busy;
}

int TransferJob::currentItem() const
{
    std::lock_guard lock{m_jobLock};
    return m_currentItem;
}

void TransferJob::setBusy(bool busy)
{
    std::lock_guard lock{m_jobLock};
    m_busy = busy;
}

void TransferJob::setCurrentItem(int id)
{
    std::lock_guard lock{m_jobLock};
    m_currentItem = id;
}

void TransferJob::onConnectionEvent(void *context, const net::ConnectionNotification &notification)
{
    auto *events = static_cast<EventContext *>(context);
    if (!events->queue)
        return;
    switch (notification.kind) {
    case net::NotifyProgress:
        events->queue->setProgress(events->itemId.load(), notification.first, notification.second);
        break;
    case net::NotifyCommandSent:
        events->queue->notifyLogSent(notification.text);
        break;
    case net::NotifyReplyReceived:
        events->queue->notifyLogReceived(notification.text);
        break;
    case net::NotifyStatus:
        events->queue->notifyLogStatus(notification.text);
        break;
    default:
        break;
    }
}

void TransferJob::status(const std::string &text)
{
    m_queue->notifyLogStatus(text);
}

void TransferJob::changed(int saveFlag, int itemId)
{
    m_queue->notifyQueueChanged(saveFlag != 0, itemId);
}

net::TlsOptions TransferJob::tlsOptions() const
{
    net::TlsOptions options;
    options.host = m_selected.host;
    options.insecure = m_timing.tlsInsecure;
    if (m_timing.trustStore)
        options.trustedSha256 = m_timing.trustStore->trustedFingerprint(m_selected.host, m_selected.port);
    return options;
}

void TransferJob::keepFailureDetail(int id, const net::ErrorCode &error)
{
    // Refused certificates and host keys, and a key that waits for its passphrase: the user can act.
    const bool keyLocked = !keyPathOfPassphraseDetail(error.detail()).empty();
    if (!keyLocked && !error.is(net::CatProtocol, net::CertificateRejected)
        && !error.is(net::CatProtocol, net::TlsFailed) && !error.isProxyFailure())
        return;
    status(error.detail());
    m_queue->setStatusDetail(id, error.detail());
}

void TransferJob::forgetSites()
{
    m_selected = {};
    m_open = {};
}

bool TransferJob::stopCheck(int id)
{
    if (m_stop)
        return true;
    if (stopRequested() || core::snapshotOrVanished(*m_queue, id).abortRequested) {
        m_result = core::ItemStatus::StatusIdle;
        forgetSites();
        m_stop = true;
    }
    return m_stop;
}

bool TransferJob::stoppedMidway(int id)
{
    // A step that failed because the job or the item was stopped ends the item Idle, not failed.
    if (!stopRequested() && !core::snapshotOrVanished(*m_queue, id).abortRequested)
        return false;
    m_result = kNoResult;
    return stopCheck(id);
}

bool TransferJob::mayContinue(int id)
{
    return m_result == kNoResult && !stopCheck(id);
}

void TransferJob::takeSelection(const core::Selection &selection)
{
    m_selected.host = selection.host;
    m_selected.port = selection.port;
    m_selected.user = selection.user;
    m_selected.password =
        selectionPassword(m_timing.keyring, *m_queue, selection, [this] { return stopRequested(); });
}

net::ProxyRoute TransferJob::proxyRouteFor(core::UrlScheme scheme) const
{
    return m_timing.proxies ? m_timing.proxies->routeFor(scheme, m_selected.host, m_selected.port)
                            : net::ProxyRoute{};
}

core::Selection TransferJob::selectFollowing()
{
    if (m_stop)
        return {};
    return m_queue->selectNext(m_selected.host, m_selected.port, m_selected.user, true);
}

core::Selection TransferJob::selectRedirectTarget()
{
    // The target is followed by this job at once, as the next item of its own site: a redirect chain
    // must not wait for a scheduler pass (and the site's rest) at every hop.
    const auto target = m_queue->snapshot(m_redirectTarget);
    if (m_stop || !target)
        return selectFollowing();
    return m_queue->selectNext(target->host, target->port, target->user, true);
}

void TransferJob::replaceSession(std::shared_ptr<net::RemoteSession> session)
{
    {
        std::lock_guard lock{m_jobLock};
        m_session = session;
    }
    if (!session)
        return;
    session->applyItemSettings(m_itemSettings);
    observeSession();
    // An abort that came before the swap reached the old session only; its stop flag came first.
    if (stopRequested())
        session->requestStop(m_stopCode.load());
}

void TransferJob::observeSession()
{
    if (m_session)
        m_session->setObserver(&TransferJob::onConnectionEvent, &m_context);
}

void TransferJob::dropSession()
{
    if (m_session)
        m_session->disconnect(net::StopByEngine);
    replaceSession(nullptr);
}

int TransferJob::Run()
{
    m_http->setObserver(&TransferJob::onConnectionEvent, &m_context);
    platform::setLowestPriority();

    core::Selection selection = m_queue->selectNext("", 0, "", false);
    m_tookFirstItem.store(true);
    if (m_onEvent)
        m_onEvent();
    int id = 0;
    while (selection.found) {
        id = selection.id;
        takeSelection(selection);
        m_result = kNoResult;
        m_endsForGood = false;
        m_context.itemId.store(id);
        const core::QueueItem item = core::snapshotOrVanished(*m_queue, id);
        const int timeout = item.timeout;
        // Every transfer shares the limits; a minimum is judged over the item's time-out.
        m_itemSettings = {id, timeout, item.passive, m_timing.speedLimits, timeout};
        if (m_session)
            m_session->applyItemSettings(m_itemSettings);
        m_http->setConnectionId(id);
        m_http->setTimeout(timeout);
        m_http->socketConnection().setSpeedLimits(m_timing.speedLimits);
        m_http->socketConnection().setMinSpeedGrace(timeout);
        setCurrentItem(id);
        stopCheck(id);

        const core::UrlScheme scheme = item.scheme;
        m_selected.proxy = proxyRouteFor(scheme);
        if (core::isHttpScheme(scheme)) {
            m_redirectTarget = 0;
            runHttpItem(id);
            selection = m_redirectTarget != 0 ? selectRedirectTarget() : selectFollowing();
            finishItem(id, m_result);
            changed(0, id); // the final status, so its row moves to its tab now
        } else if (sessionProtocolOf(scheme) != SessionProtocol::None && !hasUnsafeFtpText(id)) {
            m_selected.protocol = sessionProtocolOf(scheme);
            runRemoteItem(id);
            selection = endRemoteItem(id);
        } else {
            selection = selectFollowing();
            finishItem(id, core::ItemStatus::StatusBadUrl);
            changed(0, id);
        }
        if (m_stop)
            break;
    }

    const std::optional<core::QueueItem> last = m_queue->snapshot(id);
    if (id != 0 && last && last->abortRequested) {
        m_queue->setAbortRequested(id, false);
        m_queue->setStatus(id, core::ItemStatus::StatusQueuedForRemoval);
        changed(1, id);
    }
    setCurrentItem(0);
    setBusy(false);
    dropSession();
    m_http->disconnect(net::StopByEngine);
    changed(0, 0);
    m_ended.store(true);
    if (m_onEvent)
        m_onEvent();
    return 0;
}

bool TransferJob::hasUnsafeFtpText(int id) const
{
    // A line break in a name would end the FTP command early and smuggle in another one.
    const auto item = m_queue->snapshot(id);
    return item
        && (holdsLineBreak(item->path) || holdsLineBreak(item->fileName) || holdsLineBreak(item->user)
            || holdsLineBreak(item->password) || holdsLineBreak(item->host));
}

core::Selection TransferJob::endRemoteItem(int id)
{
    setCurrentItem(0);
    const core::Selection next = selectFollowing();
    finishItem(id, m_result);
    changed(0, id);
    changed(0, next.found ? next.id : 0);
    // The keyring's password for a URL that leaves it out, so the open session is kept for it.
    const std::string nextPassword = next.found
        ? selectionPassword(m_timing.keyring, *m_queue, next, [this] { return stopRequested(); })
        : next.password;
    const Site nextSite{next.host, next.user, nextPassword, next.port,
        next.found ? sessionProtocolOf(core::snapshotOrVanished(*m_queue, next.id).scheme)
                   : SessionProtocol::None};
    const bool sameSite = next.found && nextSite.sameAs(m_open);
    if (m_stop || !sameSite) {
        setBusy(false);
        status("");
        dropSession();
        changed(0, id);
        m_open = {};
    }
    return next;
}

void TransferJob::failForGood()
{
    m_result = core::ItemStatus::StatusError;
    m_endsForGood = true;
}

void TransferJob::finishItem(int id, core::ItemStatus result)
{
    // The user's stop (Go, quitting) is no failure: no rest, no attempt used.
    const int stopCode = m_stopCode.load();
    if (result == core::ItemStatus::StatusIdle && stopRequested()
        && (stopCode == net::StopByEngine || stopCode == net::Exiting)) {
        m_queue->stopItem(id);
        return;
    }
    m_queue->finishItem(id, result, m_endsForGood && result == core::ItemStatus::StatusError);
    if (core::isDoneStatus(result))
        forgetRedirectDepth(id);
}

} // namespace bw::engine
