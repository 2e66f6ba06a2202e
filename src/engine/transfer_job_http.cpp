// SPDX-License-Identifier: MIT
// The HTTP steps of a transfer job, and following a redirect by queueing its target.
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

#include "core/queue_list.h"
#include "core/url.h"
#include "core/url_resolve.h"
#include "engine/http_login.h"
#include "engine/local_path.h"
#include "engine/transfer_job.h"
#include "net/error_code.h"
#include "net/http_connection.h"

namespace bw::engine {

namespace {

// How many redirects led to an item, by item id. Shared by all jobs: a chain hops between workers.
std::mutex g_redirectMutex;
std::map<int, int> g_redirectDepth; // guarded by g_redirectMutex

// The request target on the wire: the parsed (unescaped) path escaped again where HTTP needs it.
std::string requestTarget(const std::string &path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F
            || std::string_view("%\"<>\\^`{|}#").find(c) != std::string_view::npos) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// "https", "ftp": a scheme as URLs name it.
std::string schemeName(core::UrlScheme scheme)
{
    const std::string_view prefix = core::schemePrefix(scheme);
    return std::string(prefix.substr(0, prefix.find(':')));
}

// "Refused redirect from https to http".
std::string refusedDowngradeText(core::UrlScheme from, core::UrlScheme to)
{
    return "Refused redirect from " + schemeName(from) + " to " + schemeName(to);
}

std::string formatted(const char *format, const std::string &a, const std::string &b)
{
    const int size = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str());
    std::string out(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, a.c_str(), b.c_str());
    out.resize(static_cast<std::size_t>(size));
    return out;
}

} // namespace

std::string receivingText(const std::string &fileName, const std::string &localPath)
{
    return formatted("Receiving %s at %s...", fileName, localPath);
}

std::string transmittingText(const std::string &localPath, const std::string &fileName)
{
    return formatted("Transmitting %s at %s...", localPath, fileName);
}

std::string resolveRedirect(const core::Url &request, const std::string &location)
{
    // The base is the request as it went out: its path escaped as on the wire, so that the reference
    // is resolved on encoded components and every escape is decoded exactly once, by parseUrl.
    const core::UrlScheme scheme = request.scheme == core::SchemeNone ? core::SchemeHttp : request.scheme;
    std::string authority = core::hostForUrl(request.host);
    if (request.port != core::defaultPort(scheme))
        authority += ":" + std::to_string(request.port);
    core::UriParts base = core::splitUriReference(requestTarget(request.path + request.fileName));
    base.scheme = schemeName(scheme);
    base.authority = authority;
    core::UriParts target = core::resolveReference(base, core::splitUriReference(location));
    target.fragment.reset(); // never sent to a server
    // The queue's URL syntax splits the user information at the last "@" and reads "\" as "/": in the
    // path and query they stay characters of the name.
    std::string rest;
    for (const char c : target.path + (target.query ? "?" + *target.query : std::string())) {
        if (c == '@')
            rest += "%40";
        else if (c == '\\')
            rest += "%5C";
        else
            rest += c;
    }
    target.path = rest;
    target.query.reset();
    for (char &c : *target.scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return core::joinUriReference(target);
}

void TransferJob::forgetRedirectDepth(int id)
{
    std::lock_guard lock{g_redirectMutex};
    g_redirectDepth.erase(id);
}

int TransferJob::redirectDepth(int id) const
{
    std::lock_guard lock{g_redirectMutex};
    const auto it = g_redirectDepth.find(id);
    return it == g_redirectDepth.end() ? 0 : it->second;
}

void TransferJob::runHttpItem(int id)
{
    if (mayContinue(id)) {
        m_http->reset();
        status("Creating socket...");
        if (!m_http->createSocket()) {
            m_result = core::ItemStatus::StatusError;
            forgetSites();
        }
    }
    if (mayContinue(id)) {
        status("Connecting...");
        changed(0, id);
        const auto item = m_queue->snapshot(id);
        m_queue->setStatusDetail(id, {}); // an earlier attempt's reason is no longer the news
        m_http->setTls(item && core::isTlsScheme(item->scheme) ? std::optional(tlsOptions()) : std::nullopt);
        m_http->setProxy(m_selected.proxy);
        if (!m_http->connect(m_selected.host, m_selected.port, m_selected.user, m_selected.password, id)
            && !stoppedMidway(id)) {
            const net::ErrorCode error = m_http->error();
            keepFailureDetail(id, error);
            m_result = core::ItemStatus::StatusFailedToConnect;
            if (error.is(net::CatProtocol, net::CertificateRejected))
                failForGood();
            forgetSites();
        }
    }
    const core::QueueItem item = core::snapshotOrVanished(*m_queue, id);
    const std::string localPath = httpLocalFile(item.localPath, item.fileName);
    PartFile part;
    if (mayContinue(id)) {
        setBusy(true);
        status(receivingText(item.fileName, localPath));
        createLocalDirectories(localPath);
        part = preparePartFile(id, localPath, item.listedSize);
    }
    if (mayContinue(id)) {
        m_queue->transferStarted(id);
        changed(0, id);
    }
    if (mayContinue(id)) {
        const std::string target = requestTarget(item.path + item.fileName);
        m_queue->setStatusDetail(id, {});
        // A file the user gave a checksum for is hashed as it arrives, which takes its bytes in order: on
        // one connection.
        const std::optional<bool> segmented =
            item.checksum.isSet() ? std::nullopt : downloadInSegments(id, part, target);
        const bool transferred = segmented ? *segmented : downloadHttpChecked(id, item, part, target);
        // A segmented download's header went to its own connections: only a plain one gives the time.
        const bool timed = transferred && !segmented;
        if (placePartFile(part, transferred, timed ? m_http->lastModified() : std::nullopt)) {
            status("File retrieved.");
            m_result = core::ItemStatus::StatusFinished;
            changed(1, id);
        } else if (m_result == kNoResult && !stoppedMidway(id)) {
            const net::ErrorCode error = m_http->error();
            // The server's own words tell a missing file from a refusal: "Permission denied (404 Not Found)".
            const std::string said = error.status() >= 300 ? m_http->statusLine() : std::string();
            status(said.empty() ? std::string(error.text()) : std::string(error.text()) + " (" + said + ")");
            forgetSites();
            if (error.is(net::CatProtocol, net::UrlRedirected))
                m_result = queueRedirect(id, error.detail());
            else if (error.status() == 404 || error.status() == 410)
                failForGood(); // the file is not there: asking again will not bring it
            else
                m_result = core::ItemStatus::StatusTransferFailed;
            if (m_result != core::ItemStatus::StatusFinished)
                m_queue->setStatusDetail(id, said);
        }
    }
    m_queue->transferEnded(id);
    changed(0, id);
    setBusy(false);
    status("Disconnecting...");
    m_http->disconnect(net::StopByEngine);
}

core::ItemStatus TransferJob::queueRedirect(int id, const std::string &location)
{
    const auto item = m_queue->snapshot(id);
    if (!item)
        return core::ItemStatus::StatusTransferFailed;
    core::Url request;
    request.scheme = item->scheme;
    request.host = item->host;
    request.port = item->port;
    request.path = item->path;
    request.fileName = item->fileName;
    const std::string target = resolveRedirect(request, location);

    core::Url parsed;
    const bool understood = core::parseUrl(target, parsed)
        && (core::isHttpScheme(parsed.scheme) || parsed.scheme == core::SchemeFtp);
    if (!understood) {
        status("Cannot follow the redirect to " + target);
        failForGood(); // a malformed or foreign target stays so
        return m_result;
    }
    // Leaving TLS would hand the request, and what comes back, to anyone on the path: never followed,
    // and not tried again either, since the server will say the same.
    if (core::isTlsScheme(item->scheme) && !core::isTlsScheme(parsed.scheme)) {
        status(refusedDowngradeText(item->scheme, parsed.scheme));
        failForGood();
        return m_result;
    }
    const int depth = redirectDepth(id) + 1;
    if (depth > m_timing.maxRedirects) {
        status("Too many redirects; stopped at " + target);
        return core::ItemStatus::StatusTransferFailed;
    }
    const int newId =
        m_queue->addItem(redirectUrlWithLogin(*item, parsed, target), item->localPath, id, -1, -1, -1, -1);
    if (newId == 0) {
        status("Cannot follow the redirect to " + target);
        return core::ItemStatus::StatusTransferFailed;
    }
    if (item->checksum.isSet())
        m_queue->setChecksum(newId, item->checksum); // the checksum is the file's, wherever it is served
    {
        std::lock_guard lock{g_redirectMutex};
        g_redirectDepth[newId] = depth;
    }
    m_redirectTarget = newId;
    changed(1, id);
    return core::ItemStatus::StatusFinished;
}

} // namespace bw::engine
