// SPDX-License-Identifier: MIT
// The queue view's URL intake: text from Add URL, drops and the clipboard becomes queue items, a local
// file dropped while a server is browsed becomes an upload into the browsed folder, and a very large
// paste goes in batches between events so the window stays responsive. GUI thread only.
#pragma once

#include <cstdint>

#include <QList>
#include <QObject>
#include <QStringList>

class QMimeData;

namespace bw::core {
class QueueList;
}

namespace bw::ui {

class CFtpTreeView;
class QueueDocument;

class QueueUrlIntake : public QObject
{
    Q_OBJECT

public:
    static constexpr int kUrlBatch = 2000;
    static constexpr int kSaveEachLimit = 16;

    // Adds to `queue`, shows the new rows and asks its questions through `view`, saves `document`.
    QueueUrlIntake(CFtpTreeView &view, core::QueueList &queue, QueueDocument &document);

    // The view's operations of the same names.
    std::int32_t addUrl(const QString &text, bool saveAtOnce);
    QList<std::int32_t> addUrls(const QStringList &pieces, bool saveAtOnce);
    void addUrlsInBatches(const QStringList &pieces);
    // Pieces from outside the program (the clipboard, a paste, another program's drop): downloads go in
    // at once, uploads only after the user confirms them, once the current event is over.
    void addOutsideUrls(const QStringList &pieces);

    bool isAddingUrls() const { return m_pendingAt < m_pendingUrls.size(); }

    // Whether a drag offers something the queue can take: text or links.
    static bool acceptsDrop(const QMimeData &data);

private:
    std::int32_t addOneUrl(const QString &text, bool saveAtOnce);
    void addPendingBatch();
    void showRefusedUrls(const QStringList &refused);

    CFtpTreeView &m_view;
    core::QueueList &m_queue;
    QueueDocument &m_document;
    // URLs of a large paste or drop still to add, from m_pendingAt on, and what was refused so far.
    QStringList m_pendingUrls;
    qsizetype m_pendingAt = 0;
    QStringList m_pendingRefused;
    bool m_pendingAdded = false;
};

} // namespace bw::ui
