// SPDX-License-Identifier: MIT
#include "widgets/options_sheet.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>

#include "widgets/general_page.h"
#include "widgets/integer_edit.h"
#include "widgets/passwords_page.h"
#include "widgets/proxy_page.h"
#include "widgets/toggles_page.h"
#include "widgets/transfer_page.h"

namespace bw::widgets {

OptionsSheet::OptionsSheet(Mode mode, QWidget *parent)
    : QDialog(parent)
    , m_mode(mode)
    , m_tabs(new QTabWidget(this))
    , m_general(new CGeneralPage(mode == Mode::PerSite, this))
    , m_toggles(new CTogglesPage(mode == Mode::PerSite, this))
{
    setWindowTitle(mode == Mode::Program ? tr("Options") : tr("Site Options"));
    m_tabs->addTab(m_general, tr("General"));
    m_tabs->addTab(m_toggles, tr("Toggles"));
    if (mode == Mode::Program) {
        m_transfer = new CTransferPage(this);
        m_tabs->addTab(m_transfer, tr("Transfer"));
        m_passwords = new CPasswordsPage(this);
        m_tabs->addTab(m_passwords, tr("Passwords"));
        m_proxy = new ProxyPage(this);
        m_tabs->addTab(m_proxy, tr("Proxy"));
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsSheet::reject);
    connect(m_tabs, &QTabWidget::currentChanged, this, &OptionsSheet::onCurrentChanged);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

void OptionsSheet::fill(const engine::Settings &settings)
{
    GeneralValues general;
    general.timeout = settings.timeout;
    general.retryTime = settings.retryTime;
    general.maxThreads = settings.maxThreads;
    general.maxThreadsPerSite = settings.maxThreadsPerSite;
    general.maxRetries = settings.retryCount;
    m_general->setValues(general);

    TogglesValues toggles;
    toggles.hidePassword = settings.hidePassword;
    toggles.minimizeTray = settings.minimizeTray;
    toggles.useDownloadPath = settings.useDownloadPath;
    toggles.longLocalPaths = settings.longLocalPaths;
    toggles.passive = settings.passive;
    toggles.showSiteStart = settings.showSiteStart;
    toggles.timeStamp = settings.timeStamp;
    toggles.monitorClipboard = settings.monitorClipboard;
    toggles.verifyClipboard = settings.verifyClipboard;
    toggles.extractClipboard = settings.extractClipboard;
    m_toggles->setValues(toggles);

    if (m_transfer) {
        TransferValues transfer;
        transfer.maxSpeed = settings.maxSpeed;
        transfer.minSpeed = settings.minSpeed;
        transfer.conversion = static_cast<int>(settings.fileNameConversion);
        transfer.ifExists = static_cast<int>(settings.ifFileExists);
        transfer.keepServerTimes = settings.keepServerTimes;
        transfer.maxSegments = settings.maxSegments;
        m_transfer->setValues(transfer);
    }
    if (m_passwords)
        m_passwords->setKeepInFiles(settings.passwordsInFiles);
    if (m_proxy)
        m_proxy->setValues(settings.proxy);
}

void OptionsSheet::applyTo(engine::Settings &settings) const
{
    const GeneralValues general = m_general->values();
    settings.timeout = general.timeout;
    settings.retryTime = general.retryTime;
    settings.maxThreads = general.maxThreads;
    settings.maxThreadsPerSite = general.maxThreadsPerSite;
    settings.retryCount = general.maxRetries;

    const TogglesValues toggles = m_toggles->values();
    settings.hidePassword = toggles.hidePassword;
    settings.minimizeTray = toggles.minimizeTray;
    settings.useDownloadPath = toggles.useDownloadPath;
    settings.longLocalPaths = toggles.longLocalPaths;
    settings.passive = toggles.passive;
    settings.showSiteStart = toggles.showSiteStart;
    settings.timeStamp = toggles.timeStamp;
    settings.monitorClipboard = toggles.monitorClipboard;
    settings.verifyClipboard = toggles.verifyClipboard;
    settings.extractClipboard = toggles.extractClipboard;

    if (m_transfer) {
        const TransferValues transfer = m_transfer->values();
        settings.maxSpeed = transfer.maxSpeed;
        settings.minSpeed = transfer.minSpeed;
        settings.fileNameConversion = engine::fileNameConversionFromIndex(transfer.conversion);
        settings.ifFileExists = engine::ifFileExistsFromIndex(transfer.ifExists);
        settings.keepServerTimes = transfer.keepServerTimes;
        settings.maxSegments = transfer.maxSegments;
    }
    if (m_passwords)
        settings.passwordsInFiles = m_passwords->keepInFiles();
    if (m_proxy)
        settings.proxy = m_proxy->values();
}

void OptionsSheet::fillControls()
{
    m_general->fillControls();
    m_toggles->fillControls();
    if (m_transfer)
        m_transfer->fillControls();
    if (m_proxy)
        m_proxy->fillControls();
}

int OptionsSheet::exec()
{
    // Pages read their boxes back when left, so remember the fields for Cancel.
    const GeneralValues general = m_general->values();
    const TogglesValues toggles = m_toggles->values();
    const TransferValues transfer = m_transfer ? m_transfer->values() : TransferValues{};
    const engine::ProxySettings proxy = m_proxy ? m_proxy->values() : engine::ProxySettings{};
    fillControls();
    m_switchingBack = true;
    m_tabs->setCurrentIndex(0);
    m_switchingBack = false;
    m_currentPage = 0;
    const int result = QDialog::exec();
    if (result != QDialog::Accepted) {
        m_general->setValues(general);
        m_toggles->setValues(toggles);
        if (m_transfer)
            m_transfer->setValues(transfer);
        if (m_proxy)
            m_proxy->setValues(proxy);
    }
    return result;
}

void OptionsSheet::accept()
{
    // The current page first, then the others, as each page is read back when the sheet closes.
    if (QLineEdit *bad = readPage(m_tabs->currentIndex())) {
        reportNotInteger(bad);
        return;
    }
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (i == m_tabs->currentIndex())
            continue;
        if (QLineEdit *bad = readPage(i)) {
            m_switchingBack = true;
            m_tabs->setCurrentIndex(i);
            m_switchingBack = false;
            m_currentPage = i;
            reportNotInteger(bad);
            return;
        }
    }
    QDialog::accept();
}

void OptionsSheet::reportNotInteger(QLineEdit *box)
{
    widgets::reportNotInteger(this, box);
}

void OptionsSheet::onCurrentChanged(int index)
{
    if (m_switchingBack)
        return;
    // Leaving a page reads it back; a box that is not an integer keeps the page open.
    if (QLineEdit *bad = readPage(m_currentPage)) {
        m_switchingBack = true;
        m_tabs->setCurrentIndex(m_currentPage);
        m_switchingBack = false;
        reportNotInteger(bad);
        return;
    }
    m_currentPage = index;
}

QLineEdit *OptionsSheet::readPage(int index)
{
    QWidget *page = m_tabs->widget(index);
    if (page == m_general)
        return m_general->readControls();
    if (page == m_toggles)
        m_toggles->readControls();
    else if (m_transfer && page == m_transfer)
        return m_transfer->readControls();
    else if (m_proxy && page == m_proxy)
        m_proxy->readControls();
    return nullptr;
}

bool editOptions(OptionsSheet &sheet, engine::Settings &settings, engine::SettingsStore &store)
{
    sheet.fill(settings);
    if (sheet.exec() != QDialog::Accepted)
        return false;
    sheet.applyTo(settings);
    engine::saveSettings(store, settings);
    return true;
}

QString pickDownloadFolder(QWidget *parent, const QString &current)
{
    return QFileDialog::getExistingDirectory(
        parent, QObject::tr("Select path to store downloaded files."), current, QFileDialog::ShowDirsOnly);
}

} // namespace bw::widgets
