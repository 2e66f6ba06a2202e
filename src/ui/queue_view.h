// SPDX-License-Identifier: MIT
// The transfer queue pane: four tabbed lists ("Queue", "Active", "Complete", "Errors") kept in step with
// the queue items, Add URL, dropped URL text, and the per-item commands of the context menu. Runs on the
// GUI thread and reads item values through the queue list's locked accessors.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include <QWidget>

#include "core/queue_item.h"
#include "engine/local_path.h"
#include "ui/queue_row.h"
#include "ui/queue_url_intake.h"
#include "widgets/text_entry_dialog.h"

class QAction;
class QMimeData;
class QTabWidget;

namespace bw::core {
class QueueList;
}

namespace bw::engine {
class CertificateTrustStore;
class KeyPassphrases;
class Scheduler;
} // namespace bw::engine

namespace bw::widgets {
class CaptionBar;
class RemoteBrowserLink;
class TiledListCtrl;
} // namespace bw::widgets

namespace bw::ui {

class KeyPassphraseCommand;
class QueueDocument;
class TrustCertificateCommand;
class TrustHostKeyCommand;
using widgets::CaptionBar;
using widgets::RemoteBrowserLink;
using widgets::TiledListCtrl;
using widgets::UserPrompts;

// The twelve columns of every queue list.
enum QueueColumn
{
    ColumnAction = 0,
    ColumnHost,
    ColumnRetry,
    ColumnCount,
    ColumnFile,
    ColumnBytes,
    ColumnTotal,
    ColumnSpeed,
    ColumnPath,
    ColumnUser,
    ColumnPort,
    ColumnLocalPath,
    kQueueColumnCount
};

class CFtpTreeView : public QWidget
{
    Q_OBJECT

public:
    // Items redrawn per tab on each full refresh, besides the transferring ones.
    static constexpr int kRefreshBatch = 25;

    CFtpTreeView(core::QueueList &queue, engine::Scheduler &scheduler, QueueDocument &document,
        QWidget *parent = nullptr);
    ~CFtpTreeView() override;

    // The refresh message: a non-zero id refreshes that item's rows, 0 runs a full refresh. Returns 1.
    int queueRefresh(std::int32_t itemId);
    void refreshItem(std::int32_t itemId);
    // The item's rows from a copy taken earlier (nullopt: it left the queue).
    void showItem(std::int32_t itemId, const std::optional<core::QueueItem> &item);

    // With "Hide passwords" on, Edit URL shows the password masked.
    void setHidePassword(bool hide) { m_hidePassword = hide; }

    // The case given to the file names of downloads added from now on.
    void setFileNameConversion(engine::FileNameConversion conversion) { m_fileNameConversion = conversion; }

    void fullRefresh();

    // Parses an optional "{N}" template prefix, adds the URL and refreshes its row; saves the queue
    // at once when asked. Shows "URL parsing error" and returns 0 when the queue refuses the URL.
    std::int32_t addUrl(const QString &text, bool saveAtOnce);
    // Adds every piece of dropped text; pieces are separated by the character of code 8.
    void dropText(const QString &text);
    // Adds each piece in order; when `saveAtOnce`, saves after each of up to kSaveEachLimit pieces, or
    // once at the end for more. One message lists the pieces that are not URLs. Returns the added ids.
    QList<std::int32_t> addUrls(const QStringList &pieces, bool saveAtOnce);
    // The same for pasted and dropped text, which may hold very many URLs: up to kUrlBatch at once,
    // more in batches of kUrlBatch between events, so the window stays responsive; the queue is saved
    // after each batch and the refused pieces are shown when the last batch is in.
    void addUrlsInBatches(const QStringList &pieces);

    // True while batches are waiting.
    bool isAddingUrls() const { return m_intake->isAddingUrls(); }

    static constexpr int kUrlBatch = QueueUrlIntake::kUrlBatch;
    static constexpr int kSaveEachLimit = QueueUrlIntake::kSaveEachLimit;
    // Ctrl+V in the queue: the URLs on the clipboard.
    // Pastes the clipboard's URLs; uploads among them wait for the user's yes.
    void pasteUrls();

    void removeRows(std::int32_t itemId);
    void clear();
    // Empties the "Complete" tab (its items have left the queue already).
    void clearCompleted();

    // The speeds of the running transfers added up, as of the last full refresh.
    std::int64_t totalSpeedKBps() const { return m_totalSpeedKBps; }

    // Commands on the current tab's selection.
    bool canDelete() const;
    void deleteSelection();
    void editUrl();
    void editRetryDelay();
    void editRetryCountLimit();
    void resetRetryCount();

    void setRemoteBrowser(RemoteBrowserLink *browser) { m_remote = browser; }

    RemoteBrowserLink *remoteBrowser() const { return m_remote; }

    // Adds "Trust Certificate..." to the context menu; it stores what the user trusts in `store`.
    void setTrustStore(engine::CertificateTrustStore &store);

    TrustCertificateCommand *trustCommand() const { return m_trust; }

    // "Trust Host Key..." of the context menu, there from the start.
    TrustHostKeyCommand *trustHostKeyCommand() const { return m_trustHostKey; }

    // Adds "Enter Key Passphrase..." to the context menu; what the user types goes to `passphrases`.
    void setKeyPassphrases(engine::KeyPassphrases &passphrases);

    KeyPassphraseCommand *keyPassphraseCommand() const { return m_keyPassphrase; }

    void setPrompts(UserPrompts prompts) { m_prompts = std::move(prompts); }

    const UserPrompts &prompts() const { return m_prompts; }

    // Where new downloads land, with this view's file-name conversion.
    engine::LocalPathOptions localPathOptions() const;

    TiledListCtrl *list(QueueTab tab) const { return m_lists[static_cast<int>(tab)]; }

    TiledListCtrl *currentList() const;

    QTabWidget *tabs() const { return m_tabs; }

    QString caption() const;

    CaptionBar *captionBar() const { return m_caption; }

    int rotationStart() const { return m_rotationStart; }

    // The hover text of a row: status, exact byte counts, and the folders when its file name repeats.
    QString rowToolTip(const TiledListCtrl *list, int row) const;

    // The queue view's own context-menu commands, in menu order (never the frame's commands).
    QList<QAction *> contextActions() const;
    // Readies the context menu's commands for the item of a clicked row.
    void prepareContextActions(std::int32_t itemId);

signals:
    // A pending manual connection went to the remote browser: the frame brings itself forward.
    void manualHandover(std::int32_t itemId);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void addDroppedUrls(const QMimeData &offered);
    // The context menu's commands and the Ctrl+V paste, made once.
    void createContextActions();
    void updateRow(QueueTab tab, std::int32_t itemId, const std::optional<core::QueueItem> &item);
    int insertRow(TiledListCtrl *list, const core::QueueItem *item);
    QList<std::int32_t> selectedItemIds() const;
    void editRetryValue(bool retryDelay);
    void showContextMenu(TiledListCtrl *list, const QPoint &pos);
    // After a trust or passphrase command: the rows of the items it sent round again.
    void refreshResetItems(bool, const QList<std::int32_t> &resetItems);
    void handleDoubleClick(TiledListCtrl *list, const QPoint &pos);
    void saveDocument();
    // Rows whose item left the queue without a refresh of its own; "Complete" keeps its rows.
    void dropRowsOfVanishedItems();
    std::string localPathForEditedUrl(const core::QueueItem &item, const std::string &url) const;

    core::QueueList &m_queue;
    engine::Scheduler &m_scheduler;
    QueueDocument &m_document;
    RemoteBrowserLink *m_remote = nullptr;
    UserPrompts m_prompts;
    CaptionBar *m_caption;
    QTabWidget *m_tabs;
    std::array<TiledListCtrl *, kQueueTabCount> m_lists{};
    int m_rotationStart = 0;
    bool m_hidePassword = true;
    QueueUrlIntake *m_intake;
    engine::FileNameConversion m_fileNameConversion = engine::FileNameConversion::None;
    QAction *m_editUrlAction;
    QAction *m_editRetryDelayAction;
    QAction *m_editRetryLimitAction;
    QAction *m_resetRetryCountAction;
    QAction *m_deleteAction;
    QAction *m_clearCompletedAction;
    std::int64_t m_totalSpeedKBps = 0;
    TrustCertificateCommand *m_trust = nullptr;
    TrustHostKeyCommand *m_trustHostKey = nullptr;
    KeyPassphraseCommand *m_keyPassphrase = nullptr;
};

} // namespace bw::ui
