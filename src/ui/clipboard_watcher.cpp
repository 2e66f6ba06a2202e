// SPDX-License-Identifier: MIT
#include "ui/clipboard_watcher.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/url_password_mask.h"
#include "widgets/url_text.h"

namespace bw::ui {

namespace {

int slot(QClipboard::Mode mode)
{
    return mode == QClipboard::Selection ? 1 : 0;
}

} // namespace

ClipboardWatcher::ClipboardWatcher(std::function<bool(const QString &)> isQueued,
    std::function<void(const QStringList &)> addUrls, QWidget *promptParent)
    : QObject(promptParent)
    , m_isQueued(std::move(isQueued))
    , m_addUrls(std::move(addUrls))
    , m_promptParent(promptParent)
    , m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(400);
    connect(m_settle, &QTimer::timeout, this, &ClipboardWatcher::readPending);
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, &ClipboardWatcher::onChanged);
}

ClipboardWatcher::~ClipboardWatcher() = default;

void ClipboardWatcher::setOptions(const ClipboardOptions &options)
{
    const bool starting = options.monitor && !m_options.monitor;
    m_options = options;
    if (starting) {
        // What was copied before the watch began is not news.
        QClipboard *clipboard = QGuiApplication::clipboard();
        m_lastText[0] = clipboard->text(QClipboard::Clipboard);
        if (clipboard->supportsSelection())
            m_lastText[1] = clipboard->text(QClipboard::Selection);
    }
}

void ClipboardWatcher::setSettleMs(int ms)
{
    m_settle->setInterval(ms);
}

QStringList ClipboardWatcher::candidates(const QString &text) const
{
    if (m_options.extract)
        return widgets::findUrls(text);
    // Without extraction only a copy that is itself one URL counts.
    const QString trimmed = text.trimmed();
    const QStringList found = widgets::findUrls(trimmed);
    if (found.size() == 1 && found.first() == trimmed && widgets::hasTransferScheme(trimmed))
        return found;
    return {};
}

void ClipboardWatcher::onChanged(QClipboard::Mode mode)
{
    if (!m_options.monitor || mode == QClipboard::FindBuffer)
        return;
    m_pendingModes.insert(mode);
    m_settle->start();
}

void ClipboardWatcher::readPending()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    QStringList urls;
    for (const QClipboard::Mode mode : std::as_const(m_pendingModes)) {
        // Bellwick's own copies (drag texts, edited URLs) are not news.
        if ((mode == QClipboard::Clipboard && clipboard->ownsClipboard())
            || (mode == QClipboard::Selection && clipboard->ownsSelection()))
            continue;
        const QString text = clipboard->text(mode);
        if (text == m_lastText[slot(mode)])
            continue;
        m_lastText[slot(mode)] = text;
        for (const QString &url : candidates(text)) {
            if (!urls.contains(url))
                urls << url;
        }
    }
    m_pendingModes.clear();
    if (m_options.monitor)
        offer(urls);
}

void ClipboardWatcher::offer(const QStringList &urls)
{
    QStringList fresh;
    for (const QString &url : urls) {
        if (!m_isQueued(url))
            fresh << url;
    }
    if (fresh.isEmpty())
        return;
    // A copied upload would send the user's files: it is only ever offered, unchecked, in the prompt.
    const widgets::OutsidePieces split = widgets::splitOutsidePieces(fresh);
    if (m_options.verify || !split.uploads.isEmpty()) {
        showPrompt(m_options.verify ? split.downloads : QStringList{}, split.uploads);
        if (m_options.verify)
            return;
    }
    if (split.downloads.isEmpty())
        return;
    m_addUrls(split.downloads);
    emit urlsQueued(split.downloads);
}

void ClipboardWatcher::showPrompt(const QStringList &downloads, const QStringList &uploads)
{
    if (!m_prompt) {
        m_prompt = new QDialog(m_promptParent);
        m_prompt->setObjectName(QStringLiteral("clipboardPrompt"));
        m_prompt->setWindowTitle(tr("Add Copied URLs"));
        m_prompt->setModal(false);
        auto *layout = new QVBoxLayout(m_prompt);
        layout->addWidget(new QLabel(tr("Add these copied URLs to the queue?"), m_prompt));
        m_promptList = new QListWidget(m_prompt);
        layout->addWidget(m_promptList);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, m_prompt);
        buttons->addButton(tr("Add"), QDialogButtonBox::AcceptRole)->setDefault(true);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &ClipboardWatcher::acceptPrompt);
        connect(buttons, &QDialogButtonBox::rejected, m_prompt, &QDialog::reject);
        connect(m_prompt, &QDialog::finished, this, [this] {
            m_prompt->deleteLater();
            m_prompt = nullptr;
            m_promptList = nullptr;
        });
    }
    // Further copies while the prompt is open join its list.
    auto addRow = [this](const QString &url, bool upload) {
        for (int row = 0; row < m_promptList->count(); ++row) {
            if (m_promptList->item(row)->data(Qt::UserRole).toString() == url)
                return;
        }
        // The row shows what the user may see; the URL to queue stays beside it.
        auto *item = new QListWidgetItem(m_options.hidePasswords ? maskUrlPassword(url) : url, m_promptList);
        item->setData(Qt::UserRole, url);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(upload ? Qt::Unchecked : Qt::Checked);
        if (upload)
            item->setToolTip(
                tr("Uploads files from this computer: check it only if you meant to send them."));
    };
    for (const QString &url : downloads)
        addRow(url, false);
    for (const QString &url : uploads)
        addRow(url, true);
    m_prompt->show();
    m_prompt->raise();
}

void ClipboardWatcher::acceptPrompt()
{
    QStringList chosen;
    for (int row = 0; row < m_promptList->count(); ++row) {
        const QListWidgetItem *item = m_promptList->item(row);
        const QString url = item->data(Qt::UserRole).toString();
        if (item->checkState() == Qt::Checked && !m_isQueued(url))
            chosen << url;
    }
    m_prompt->accept();
    if (chosen.isEmpty())
        return;
    m_addUrls(chosen);
    emit urlsQueued(chosen);
}

} // namespace bw::ui
