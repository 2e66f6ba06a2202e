// SPDX-License-Identifier: MIT
// The options sheet: the General, Toggles, Transfer and Proxy pages in tabs with OK and Cancel. The pages
// only carry values; nothing changes unless the sheet is closed with OK. GUI thread only.
#pragma once

#include <QDialog>

#include "engine/settings.h"

class QLineEdit;
class QTabWidget;

namespace bw::widgets {

class CGeneralPage;
class CPasswordsPage;
class CTogglesPage;
class CTransferPage;
class ProxyPage;

class OptionsSheet : public QDialog
{
    Q_OBJECT

public:
    enum class Mode
    {
        Program, // the Options command: all four pages
        PerSite, // the site list's advanced options: General and Toggles in per-site mode
    };

    explicit OptionsSheet(Mode mode = Mode::Program, QWidget *parent = nullptr);

    CGeneralPage *generalPage() const { return m_general; }

    CTogglesPage *togglesPage() const { return m_toggles; }

    CTransferPage *transferPage() const { return m_transfer; } // null in per-site mode

    CPasswordsPage *passwordsPage() const { return m_passwords; } // null in per-site mode

    ProxyPage *proxyPage() const { return m_proxy; } // null in per-site mode

    QTabWidget *tabs() const { return m_tabs; }

    // Every page's fields from the settings.
    void fill(const engine::Settings &settings);
    // The pages' fields written into the settings (download path and "SystemTray" untouched).
    void applyTo(engine::Settings &settings) const;

    // Fills the boxes of every page from its fields. exec() does this itself.
    void fillControls();

    int exec() override;
    void accept() override;

    // Shows "Please enter an integer." and returns the focus to the box. Overridable for tests.
    virtual void reportNotInteger(QLineEdit *box);

private:
    void onCurrentChanged(int index);
    QLineEdit *readPage(int index);

    Mode m_mode;
    QTabWidget *m_tabs;
    CGeneralPage *m_general;
    CTogglesPage *m_toggles;
    CTransferPage *m_transfer = nullptr;
    CPasswordsPage *m_passwords = nullptr;
    ProxyPage *m_proxy = nullptr;
    int m_currentPage = 0;
    bool m_switchingBack = false;
};

// The Options command's work on the settings: runs the sheet over `settings`; with OK writes the
// pages' values into `settings`, saves them into `store` and returns true. Cancel changes nothing.
bool editOptions(OptionsSheet &sheet, engine::Settings &settings, engine::SettingsStore &store);

// The Path command's folder picker; returns the chosen folder or an empty text when cancelled.
QString pickDownloadFolder(QWidget *parent, const QString &current);

} // namespace bw::widgets
