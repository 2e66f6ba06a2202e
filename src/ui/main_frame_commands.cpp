// SPDX-License-Identifier: MIT
// What the main window's commands do: adding and editing URLs, Go, the options and the download
// folder, Delete in the focused pane, help, manual browsing, and queue files dropped on the window.
#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

#include "browse/local_view.h"
#include "browse/man_ftp_view.h"
#include "browse/site_dialog.h"
#include "engine/engine.h"
#include "engine/keyring_service.h"
#include "engine/queue_file.h"
#include "ui/about_dialog.h"
#include "ui/help_window.h"
#include "ui/log_sub_frame.h"
#include "ui/main_frame.h"
#include "ui/queue_document.h"
#include "ui/queue_view.h"
#include "widgets/options_sheet.h"
#include "widgets/passwords_page.h"
#include "widgets/remote_browser_link.h"
#include "widgets/tiled_list_ctrl.h"
#include "widgets/url_text.h"

namespace bw::ui {

using widgets::editOptions;
using widgets::kAddEditUrlCaption;
using widgets::kUrlLabel;
using widgets::OptionsSheet;
using widgets::pickDownloadFolder;

void CMainFrame::addUrlCommand()
{
    const std::optional<QString> text = m_prompts.askUrl(this, QString::fromLatin1(kExampleUrl));
    if (text)
        m_queueView->addUrlsInBatches(widgets::urlPieces(*text));
}

void CMainFrame::goCommand()
{
    m_context.engine.scheduler().go();
    updateCommandStates();
}

void CMainFrame::optionsCommand()
{
    engine::Settings settings = m_context.engine.currentSettings(m_settings);
    OptionsSheet sheet(OptionsSheet::Mode::Program, this);
    engine::KeyringService *keyring = m_context.engine.keyring();
    sheet.passwordsPage()->setKeyringFound(
        keyring && keyring->state() == engine::KeyringService::State::Available);
    if (!editOptions(sheet, settings, m_context.settingsStore))
        return;
    if (keyring && keyring->isUsedForFiles() == settings.passwordsInFiles) {
        keyring->setUsedForFiles(!settings.passwordsInFiles);
        onKeyringChanged(); // the files follow at once
    }
    m_context.engine.applySettings(settings);
    settings.systemTray = m_settings.systemTray;
    m_settings = settings;
    m_logFrame->setTimestamp(settings.timeStamp);
    m_queueView->setHidePassword(settings.hidePassword);
    m_queueView->setFileNameConversion(settings.fileNameConversion);
    m_remotePane->setIfFileExists(settings.ifFileExists);
    applyClipboardOptions();
}

void CMainFrame::pathCommand()
{
    const QString folder =
        pickDownloadFolder(this, QString::fromStdString(m_context.engine.scheduler().downloadPath()));
    if (folder.isEmpty())
        return;
    // Set first, then save, so the chosen folder is what gets stored. Picking a folder means downloads
    // should go there.
    m_context.engine.scheduler().setDownloadPath(folder.toStdString());
    m_context.engine.scheduler().setUseDownloadPath(true);
    m_settings.useDownloadPath = true;
    m_context.engine.saveSettings(m_context.settingsStore, m_settings);
    showDownloadPath();
}

CMainFrame::DeleteTarget CMainFrame::deleteTarget() const
{
    // Delete goes to the pane that has the keyboard focus; from anywhere else it acts on the queue.
    const QWidget *focus = QApplication::focusWidget();
    auto holds = [focus](const QWidget *pane) {
        return pane && focus && (pane == focus || pane->isAncestorOf(focus));
    };
    if (holds(m_localPane))
        return DeleteTarget::LocalFiles;
    if (holds(m_remotePane))
        return DeleteTarget::RemoteFiles;
    return DeleteTarget::QueueItems;
}

bool CMainFrame::canDeleteInFocus() const
{
    switch (deleteTarget()) {
    case DeleteTarget::LocalFiles:
        return !m_localPane->list()->selectedRows().isEmpty();
    case DeleteTarget::RemoteFiles:
        return m_remote && m_remote->isConnected() && m_remote->hasSelection();
    case DeleteTarget::QueueItems:
        break;
    }
    return m_queueView->canDelete();
}

void CMainFrame::deleteCommand()
{
    if (!canDeleteInFocus())
        return;
    switch (deleteTarget()) {
    case DeleteTarget::LocalFiles:
        m_localPane->deleteSelection(); // asks "Are you sure?" first
        break;
    case DeleteTarget::RemoteFiles:
        m_remote->deleteSelection(); // asks "Are you sure?" first
        break;
    case DeleteTarget::QueueItems:
        m_queueView->deleteSelection();
        break;
    }
    updateCommandStates();
}

void CMainFrame::editUrlCommand()
{
    m_queueView->editUrl();
}

void CMainFrame::helpTopics()
{
    showHelpTopics(
        m_options.manualPath, this, m_options.openInBrowser ? m_options.openInBrowser : [](const QUrl &url) {
            return QDesktopServices::openUrl(url);
        });
}

void CMainFrame::aboutCommand()
{
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::connectCommand()
{
    const std::int32_t id = browse::runConnectCommand(
        this, *m_connect, m_context.settingsStore, queue(), m_options.runSiteDialog);
    if (id == 0)
        return;
    m_pathPane->setText(tr("Connecting..."));
    m_connectingItem = id;
    onQueueChanged(true, 0);
}

void CMainFrame::downloadCommand()
{
    if (m_remotePane && m_remotePane->canDownload())
        m_remotePane->downloadSelection();
    updateCommandStates();
}

void CMainFrame::uploadCommand()
{
    if (m_localPane && m_localPane->canUpload())
        m_localPane->uploadSelection();
    updateCommandStates();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent *event)
{
    // Queue files dropped on the window's frame are opened; text dropped on the panes is handled by the
    // panes.
    openDroppedFiles(event->mimeData()->urls());
    event->acceptProposedAction();
}

void CMainFrame::openDroppedFiles(const QList<QUrl> &urls)
{
    // Each in turn. Any file that is not a queue file is refused: opening it would make it the queue
    // file, and the next autosave would overwrite it with the queue.
    for (const QUrl &url : urls) {
        const QString path = url.toLocalFile();
        if (!url.isLocalFile() || !QFileInfo(path).isFile())
            continue;
        const QString problem = QString::fromStdString(engine::queueFileProblem(path.toStdString()));
        if (problem.isEmpty()) {
            m_context.document.openDocument(path);
            continue;
        }
        m_prompts.showError(this,
            tr("\"%1\" is not a queue file (%2). The queue stays in \"%3\".")
                .arg(path, problem, m_context.document.filePath()),
            tr("Error"));
    }
    m_queueView->queueRefresh(0);
}

} // namespace bw::ui
