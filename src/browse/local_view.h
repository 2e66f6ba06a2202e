// SPDX-License-Identifier: MIT
// The local file pane: a folder of its own (never the process's working directory) with sizes and
// dates, the mounted volumes to change to, local delete, rename, make folder and open, and the exchange
// of files with the remote browser by drag and drop or the Upload command. GUI thread only.
#pragma once

#include <filesystem>
#include <string>

#include <QString>

#include "browse/browse_prompts.h"
#include "browse/file_pane_view.h"
#include "browse/path_box.h"

class QComboBox;
class QLineEdit;
class QMenu;

namespace bw::browse {

class CManFtpView;
class FolderWatch;

class CLocalView : public FilePaneView
{
    Q_OBJECT

public:
    explicit CLocalView(QWidget *parent = nullptr);
    ~CLocalView() override;

    // The folder shown; downloads dropped here or started by the remote browser land in it.
    const std::string &directory() const { return m_directory; }

    // Moves the pane to `folder` (not listed until `listDirectory`).
    void setDirectory(const std::string &folder);

    // Lists the pane's folder (done at the first show, and after every change).
    void listDirectory();
    // Lists the folder again after a change on disk, keeping the selection and the scroll position.
    void refreshFromDisk();

    FolderWatch *folderWatch() const { return m_watch; }

    void openDirectory() override;
    // Changes to a volume's root (or a place of the drop-down) and lists it.
    void changeDrive(const QString &root);
    // A folder typed in the path box ("~" for the home folder); a folder that does not exist is reported.
    void enterTypedPath(const QString &text);
    void deleteSelection() override;
    void renameSelection() override;
    void makeFolder() override;
    void viewSelection();
    void clearRows();

    // The Upload command: every selected file to the remote browser's folder.
    bool canUpload() const;
    void uploadSelection();

    // Drops are taken only while the remote browser runs a drag of its own.
    void setDropEnabled(bool on) { m_dropTarget = on; }

    bool dropEnabled() const { return m_dropTarget; }

    QString dragText() const;
    // What a drag of the selected rows carries (the caller owns it).
    QMimeData *dragData() const;
    void dropText(const QString &text) override;

    void setRemoteBrowser(CManFtpView *browser) { m_remote = browser; }

    void setPrompts(BrowsePrompts prompts) { m_prompts = std::move(prompts); }

    QComboBox *driveList() const { return m_drives; }

    PathBox *directoryBox() const { return m_directoryBox; }

    QMenu *buildContextMenu(int row) override;
    // The pane's folder with a trailing "/".
    std::string directoryPrefix() const;

signals:
    // The pane moved to another folder.
    void directoryChanged(const QString &folder);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fillDrives();
    void selectDriveFor(const QString &directory);
    void startDrag() override;
    void activateFiles() override;

    void viewSelectedFiles() override { viewSelection(); }

    void refreshFolder() override { listDirectory(); }

    bool acceptsDrop() const override { return m_dropTarget; }

    // Enters `folder` when it is a folder that exists; true when the pane moved.
    bool enterDirectory(const std::filesystem::path &folder);

    BrowsePrompts m_prompts;
    std::string m_directory;
    bool m_firstUpdate = true;
    bool m_dropTarget = false;
    CManFtpView *m_remote = nullptr;
    QComboBox *m_drives;
    PathBox *m_directoryBox;
    FolderWatch *m_watch;
};

} // namespace bw::browse
