// SPDX-License-Identifier: MIT
#include "ui/queue_url_intake.h"

#include <algorithm>
#include <string>
#include <utility>

#include <QMimeData>
#include <QTimer>

#include "core/queue_list.h"
#include "core/url.h"
#include "engine/local_path.h"
#include "ui/queue_document.h"
#include "ui/queue_view.h"
#include "widgets/integer_edit.h"
#include "widgets/remote_browser_link.h"
#include "widgets/url_text.h"

namespace bw::ui {

namespace {

// The browsed site's URL as an upload target in the same form: ftp -> ftpu, ftpes -> ftpesu, sftp -> sftpu.
std::string uploadUrlOf(const std::string &siteUrl)
{
    core::Url parsed;
    if (!core::parseUrl(siteUrl, parsed) || !core::isRemoteSessionScheme(parsed.scheme)
        || !siteUrl.starts_with(core::schemePrefix(parsed.scheme)))
        return siteUrl;
    const std::size_t prefixLength = core::schemePrefix(parsed.scheme).size();
    return std::string(core::schemePrefix(core::uploadScheme(parsed.scheme))) + siteUrl.substr(prefixLength);
}

} // namespace

QueueUrlIntake::QueueUrlIntake(CFtpTreeView &view, core::QueueList &queue, QueueDocument &document)
    : QObject(&view)
    , m_view(view)
    , m_queue(queue)
    , m_document(document)
{}

bool QueueUrlIntake::acceptsDrop(const QMimeData &data)
{
    return data.hasText() || data.hasUrls() || data.hasFormat(QStringLiteral("text/x-moz-url"));
}

std::int32_t QueueUrlIntake::addUrl(const QString &text, bool saveAtOnce)
{
    const std::int32_t id = addOneUrl(text, saveAtOnce);
    if (id == 0)
        m_view.prompts().showError(&m_view, tr("URL parsing error"), tr("Error"));
    return id;
}

QList<std::int32_t> QueueUrlIntake::addUrls(const QStringList &pieces, bool saveAtOnce)
{
    // A few URLs are saved one by one; a save per URL of a large paste would write the growing queue
    // again for every line, so many are saved once, at the end.
    const bool saveEach = saveAtOnce && pieces.size() <= kSaveEachLimit;
    QList<std::int32_t> added;
    QStringList refused;
    for (const QString &piece : pieces) {
        if (const std::int32_t id = addOneUrl(piece, saveEach))
            added << id;
        else
            refused << (piece.trimmed().isEmpty() ? tr("(empty)") : piece);
    }
    if (saveAtOnce && !saveEach && !added.isEmpty())
        m_document.save();
    showRefusedUrls(refused);
    return added;
}

void QueueUrlIntake::showRefusedUrls(const QStringList &refused)
{
    if (!refused.isEmpty()) {
        m_view.prompts().showError(
            &m_view, tr("URL parsing error") + u'\n' + refused.join(u'\n'), tr("Error"));
    }
}

void QueueUrlIntake::addUrlsInBatches(const QStringList &pieces)
{
    if (!isAddingUrls() && pieces.size() <= kUrlBatch) {
        addUrls(pieces, true);
        return;
    }
    // A paste while batches are waiting joins them, so the order stays the order of arrival.
    const bool running = isAddingUrls();
    m_pendingUrls.append(pieces);
    if (!running)
        addPendingBatch();
}

void QueueUrlIntake::addOutsideUrls(const QStringList &pieces)
{
    const widgets::OutsidePieces split = widgets::splitOutsidePieces(pieces);
    if (!split.downloads.isEmpty())
        addUrlsInBatches(split.downloads);
    if (split.uploads.isEmpty())
        return;
    // Asked after a drop has ended: the program it came from is not held while the user reads.
    QTimer::singleShot(0, this, [this, uploads = split.uploads] {
        if (m_view.prompts().confirmUploads(&m_view, uploads))
            addUrlsInBatches(uploads);
    });
}

void QueueUrlIntake::addPendingBatch()
{
    const qsizetype end = std::min(m_pendingAt + kUrlBatch, m_pendingUrls.size());
    for (; m_pendingAt < end; ++m_pendingAt) {
        const QString &piece = m_pendingUrls[m_pendingAt];
        if (addOneUrl(piece, false) != 0)
            m_pendingAdded = true;
        else
            m_pendingRefused << (piece.trimmed().isEmpty() ? QStringLiteral("(empty)") : piece);
    }
    // Saved after every batch: what is in the queue is on disk before the window waits again.
    if (std::exchange(m_pendingAdded, false))
        m_document.save();
    if (isAddingUrls()) {
        QTimer::singleShot(0, this, &QueueUrlIntake::addPendingBatch);
        return;
    }
    const QStringList refused = std::exchange(m_pendingRefused, {});
    m_pendingUrls.clear();
    m_pendingAt = 0;
    showRefusedUrls(refused);
}

std::int32_t QueueUrlIntake::addOneUrl(const QString &text, bool saveAtOnce)
{
    QString url = text;
    std::int32_t parentId = 0;
    const int brace = url.indexOf(u'}');
    if (brace >= 0) {
        QString prefix = url.left(brace);
        while (prefix.startsWith(u'{'))
            prefix.remove(0, 1);
        parentId = widgets::leadingNumber(prefix);
        url = url.mid(brace + 1);
        while (url.startsWith(u'}'))
            url.remove(0, 1);
    }

    std::string urlText = url.toStdString();
    std::string localPath;
    core::Url parsed;
    widgets::RemoteBrowserLink *remote = m_view.remoteBrowser();
    const std::int32_t browsedItem = remote ? remote->itemId() : 0;
    if (browsedItem != 0 && core::parseUrl(urlText, parsed) && parsed.scheme == core::SchemeLocal) {
        // A local file dropped while browsing a server: upload it into the browsed folder.
        QString target =
            QString::fromStdString(uploadUrlOf(core::snapshotOrVanished(m_queue, browsedItem).url));
        while (target.endsWith(u'/'))
            target.chop(1);
        QString folder = remote->currentDirectory();
        folder.replace(u'\\', u'/');
        while (folder.startsWith(u'/'))
            folder.remove(0, 1);
        while (folder.endsWith(u'/'))
            folder.chop(1);
        target += u'/' + folder + u'/' + QString::fromStdString(parsed.fileName);
        while (target.endsWith(u'/'))
            target.chop(1);
        // The upload reads the dropped file itself, wherever the download folder is.
        localPath = engine::buildLocalPath(m_view.localPathOptions(), urlText);
        urlText = target.toStdString();
    } else {
        localPath = engine::buildLocalPath(m_view.localPathOptions(), urlText);
    }

    const std::int32_t id = m_queue.addItem(urlText, localPath, parentId, -1, -1, -1, -1);
    if (id == 0)
        return 0;
    m_view.refreshItem(id);
    if (saveAtOnce)
        m_document.save();
    return id;
}

} // namespace bw::ui
