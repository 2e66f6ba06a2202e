// SPDX-License-Identifier: MIT
// The local file pane: the process's working directory with sizes and dates, the mounted volumes to
// change to, local delete, rename, make folder and open, and the exchange of files with the remote
// browser by drag and drop or the Upload command. GUI thread only.
#pragma once

#include <memory>
#include <string>

#include <QString>

#include "browse/browse_prompts.h"
#include "browse/list_entry.h"
#include "ui/ctrl_list_view.h"

class QComboBox;
class QLineEdit;
class QMenu;

namespace bw::ui {
class FileIconList;
}

namespace bw::browse {

class CManFtpView;

class CLocalView : public ui::CCtrlListView
{
    Q_OBJECT

public:
    enum Command
    {
        CommandDelete = 300,
        CommandRename = 301,
        CommandMakeDir = 302,
        CommandRefresh = 303,
        CommandViewFile = 304,
    };

    explicit CLocalView(QWidget *parent = nullptr);
    ~CLocalView() override;

    // Lists the working directory (done at the first show, and after every change).
    void listDirectory();
    void openDirectory();
    // Changes the working directory to a volume's root and lists it.
    void changeDrive(const QString &root);
    void deleteSelection();
    void renameSelection();
    void makeFolder();
    void viewSelection();
    void clearRows();

    // The Upload command: every selected file to the remote browser's folder.
    bool canUpload() const;
    void uploadSelection();

    // Drops are taken only while the remote browser runs a drag of its own.
    void setDropEnabled(bool on) { m_dropTarget = on; }

    bool dropEnabled() const { return m_dropTarget; }

    QString dragText() const;
    void dropText(const QString &text);

    void setRemoteBrowser(CManFtpView *browser) { m_remote = browser; }

    void setPrompts(BrowsePrompts prompts) { m_prompts = std::move(prompts); }

    QComboBox *driveList() const { return m_drives; }

    QLineEdit *directoryBox() const { return m_directoryBox; }

    ListEntry entry(int row) const;
    int rowOf(const QString &name) const;
    QMenu *buildContextMenu(int row);
    // The working directory with a trailing "/".
    static std::string directoryPrefix();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillDrives();
    void selectDriveFor(const QString &directory);
    void startDrag();
    void showContextMenu(const QPoint &viewportPos);
    void runCommand(int command);

    BrowsePrompts m_prompts;
    bool m_firstUpdate = true;
    bool m_dropTarget = false;
    CManFtpView *m_remote = nullptr;
    std::unique_ptr<ui::FileIconList> m_images;
    QComboBox *m_drives;
    QLineEdit *m_directoryBox;
    QPoint m_pressPos;
};

} // namespace bw::browse
