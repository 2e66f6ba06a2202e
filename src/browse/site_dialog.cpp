// SPDX-License-Identifier: MIT
#include "browse/site_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "core/queue_list.h"
#include "core/url.h"
#include "engine/keyring_service.h"
#include "engine/settings.h"
#include "engine/settings_store.h"
#include "widgets/general_page.h"
#include "widgets/options_sheet.h"
#include "widgets/tiled_list_ctrl.h"
#include "widgets/toggles_page.h"

namespace bw::browse {

namespace {

constexpr int kLowestPort = 0;
constexpr int kHighestPort = 65535;

QLineEdit *addEdit(QGridLayout *grid, int row, const QString &label, const char *objectName)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(objectName));
    auto *caption = new QLabel(label);
    caption->setBuddy(edit);
    grid->addWidget(caption, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}

bool runAdvancedSheet(QWidget *parent, SiteOptions &options, const engine::SettingsStore &settings)
{
    widgets::OptionsSheet sheet(widgets::OptionsSheet::Mode::PerSite, parent);
    sheet.fill(engine::loadSettings(settings));
    widgets::GeneralValues general = sheet.generalPage()->values();
    general.timeout = options.timeout;
    general.retryTime = options.retryTime;
    general.maxRetries = options.retryCount;
    sheet.generalPage()->setValues(general);
    widgets::TogglesValues toggles = sheet.togglesPage()->values();
    toggles.passive = options.passive != 0;
    sheet.togglesPage()->setValues(toggles);
    const bool accepted = sheet.exec() == QDialog::Accepted;
    // On Cancel the pages still hold what they started with, so copying back changes nothing.
    general = sheet.generalPage()->values();
    options.timeout = general.timeout;
    options.retryTime = general.retryTime;
    options.retryCount = general.maxRetries;
    options.passive = sheet.togglesPage()->values().passive ? 1 : 0;
    return accepted;
}

} // namespace

std::filesystem::path siteFilePath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.local/share/Tolvenby/Bellwick");
    return std::filesystem::path(folder.toStdString()) / "database.usr";
}

CSiteDialog::CSiteDialog(SiteList &sites, std::filesystem::path filePath,
    const engine::SettingsStore &settings, const SiteFields &initial, QWidget *parent)
    : QDialog(parent)
    , m_sites(sites)
    , m_filePath(std::move(filePath))
    , m_settings(settings)
    , m_fields(initial)
    , m_name(nullptr)
    , m_address(nullptr)
    , m_port(nullptr)
    , m_tls(new QComboBox)
    , m_protocol(new QComboBox)
    , m_anonymous(new QCheckBox(tr("Anonymous")))
    , m_user(nullptr)
    , m_password(nullptr)
    , m_list(new widgets::TiledListCtrl)
{
    setWindowTitle(QString::fromLatin1(kCaption));
    setObjectName(QStringLiteral("siteDialog"));
    auto *grid = new QGridLayout;
    m_name = addEdit(grid, 0, tr("Name:"), "nameEdit");
    m_address = addEdit(grid, 1, tr("Address:"), "addressEdit");
    m_port = addEdit(grid, 2, tr("Port:"), "portEdit");
    m_tls->setObjectName(QStringLiteral("tlsBox"));
    // In the order of SiteTls.
    m_tls->addItems({tr("None"), tr("Explicit (AUTH TLS)"), tr("Implicit")});
    auto *tlsCaption = new QLabel(tr("TLS:"));
    tlsCaption->setBuddy(m_tls);
    grid->addWidget(tlsCaption, 3, 0);
    grid->addWidget(m_tls, 3, 1);
    connect(m_tls, &QComboBox::activated, this, [this](int index) { onTlsChosen(index); });
    m_protocol->setObjectName(QStringLiteral("protocolBox"));
    // In the order of SiteProtocol.
    m_protocol->addItems({tr("FTP"), tr("SFTP")});
    auto *protocolCaption = new QLabel(tr("Protocol:"));
    protocolCaption->setBuddy(m_protocol);
    grid->addWidget(protocolCaption, 4, 0);
    grid->addWidget(m_protocol, 4, 1);
    connect(m_protocol, &QComboBox::activated, this, [this](int index) { onProtocolChosen(index); });
    m_anonymous->setObjectName(QStringLiteral("anonymousBox"));
    grid->addWidget(m_anonymous, 5, 1);
    m_user = addEdit(grid, 6, tr("User:"), "userEdit");
    m_password = addEdit(grid, 7, tr("Password:"), "passwordEdit");
    m_password->setEchoMode(QLineEdit::Password);

    m_list->setObjectName(QStringLiteral("siteList"));
    m_list->insertColumn(0, tr("Name"), 130);
    m_list->insertColumn(1, tr("Site"), 130);
    m_list->insertColumn(2, tr("Port"), 60);
    m_list->insertColumn(3, tr("Protocol"), 110);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->viewport()->installEventFilter(this);
    m_list->installEventFilter(this);

    auto *buttons = new QVBoxLayout;
    auto addButton = [&](const QString &text, const char *objectName, auto handler) {
        auto *button = new QPushButton(text);
        button->setObjectName(QString::fromLatin1(objectName));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, handler);
        buttons->addWidget(button);
        return button;
    };
    addButton(tr("Connect"), "connectButton", [this] { connectSite(); })->setDefault(true);
    addButton(tr("Close"), "closeButton", [this] { reject(); });
    addButton(tr("Add"), "addButton", [this] { addSite(); });
    addButton(tr("Update"), "updateButton", [this] { updateSite(); });
    addButton(tr("Delete"), "deleteButton", [this] { deleteSites(); });
    addButton(tr("Advanced..."), "advancedButton", [this] { editAdvanced(); });
    buttons->addStretch();
    connect(m_anonymous, &QCheckBox::clicked, this, [this] { onAnonymousClicked(); });

    auto *top = new QHBoxLayout;
    top->addLayout(grid, 1);
    top->addLayout(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    resize(420, 420);

    m_advancedEditor = [this](QWidget *owner, SiteOptions &options) {
        return runAdvancedSheet(owner, options, m_settings);
    };
    m_rangeReporter = [](QWidget *owner, const QString &text) {
        QMessageBox::warning(owner, tr("Bellwick"), text);
    };
    m_deleteConfirmer = [](QWidget *owner, const QString &text) {
        return QMessageBox::question(owner, tr("Delete"), text) == QMessageBox::Yes;
    };
    m_discardConfirmer = [](QWidget *owner, const QString &text) {
        return QMessageBox::question(owner, tr("Discard Changes"), text) == QMessageBox::Yes;
    };

    // Opening: the sites, the password masking, the enabling, and the options from the settings.
    for (const SiteEntry &entry : m_sites.entries())
        setRow(m_list->appendItem({}), entry);
    const bool hidePassword = m_settings.readInt(engine::kOptionsGroup, "HidePassword", 1) != 0;
    if (!hidePassword)
        m_password->setEchoMode(QLineEdit::Normal);
    // The four options start from the settings; the TLS and protocol of the last connection stay.
    const SiteTls tls = m_fields.options.tls;
    const SiteProtocol protocol = m_fields.options.protocol;
    m_fields.options = siteOptionsFromSettings(m_settings);
    m_fields.options.tls = tls;
    m_fields.options.protocol = protocol;
    fillControls();
}

QPushButton *CSiteDialog::button(const QString &objectName) const
{
    return findChild<QPushButton *>(objectName);
}

void CSiteDialog::setRow(int row, const SiteEntry &entry)
{
    m_list->setItemText(row, 0, QString::fromStdString(entry.name));
    m_list->setItemText(row, 1, QString::fromStdString(entry.address));
    m_list->setItemText(row, 2, QString::number(entry.port));
    m_list->setItemText(row, 3, siteProtocolText(entry.options));
}

void CSiteDialog::fillControls()
{
    m_name->setText(m_fields.name);
    m_address->setText(m_fields.address);
    m_port->setText(QString::number(m_fields.port));
    const auto tls = static_cast<int>(m_fields.options.tls);
    m_tls->setCurrentIndex(tls >= 0 && tls < m_tls->count() ? tls : 0);
    const bool sftp = m_fields.options.protocol == SiteProtocol::Sftp;
    m_protocol->setCurrentIndex(sftp ? 1 : 0);
    m_tls->setEnabled(!sftp);
    m_anonymous->setChecked(m_fields.anonymous);
    m_user->setText(m_fields.user);
    m_password->setText(m_fields.password);
    updateUserEnabling(m_fields.anonymous);
    m_shownTexts = controlTexts();
}

bool CSiteDialog::readControls()
{
    bool isNumber = false;
    const int port = m_port->text().trimmed().toInt(&isNumber);
    if (!isNumber) {
        m_rangeReporter(this, tr("Please enter an integer."));
        m_port->setFocus();
        return false;
    }
    if (port < kLowestPort || port > kHighestPort) {
        m_rangeReporter(
            this, tr("Please enter an integer between %1 and %2.").arg(kLowestPort).arg(kHighestPort));
        m_port->setFocus();
        return false;
    }
    m_fields.name = m_name->text();
    m_fields.address = m_address->text();
    m_fields.port = port;
    m_fields.options.protocol = m_protocol->currentIndex() == 1 ? SiteProtocol::Sftp : SiteProtocol::Ftp;
    // SSH encrypts by itself: an SFTP site keeps no TLS choice.
    m_fields.options.tls = m_fields.options.protocol == SiteProtocol::Sftp
        ? SiteTls::None
        : static_cast<SiteTls>(m_tls->currentIndex());
    m_fields.anonymous = m_anonymous->isChecked();
    m_fields.user = m_user->text();
    m_fields.password = m_password->text();
    return true;
}

void CSiteDialog::updateUserEnabling(bool anonymous)
{
    m_user->setEnabled(!anonymous);
    m_password->setEnabled(!anonymous);
}

SiteEntry CSiteDialog::entryFromFields() const
{
    SiteEntry entry;
    entry.name = m_fields.name.toStdString();
    entry.address = m_fields.address.toStdString();
    entry.port = m_fields.port;
    entry.anonymous = m_fields.anonymous ? 1 : 0;
    entry.user = m_fields.anonymous ? std::string(core::kAnonymousUser) : m_fields.user.toStdString();
    entry.password =
        m_fields.anonymous ? std::string(core::kDefaultAnonymousPassword) : m_fields.password.toStdString();
    entry.options = m_fields.options;
    return entry;
}

bool CSiteDialog::addSite()
{
    if (!readControls() || !checkRequiredFields())
        return false;
    const SiteEntry entry = entryFromFields();
    m_sites.append(entry);
    const int row = m_list->appendItem({});
    setRow(row, entry);
    m_sites.save(m_filePath);
    markShown(row);
    return true;
}

bool CSiteDialog::updateSite()
{
    const int row = m_list->firstSelectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= m_sites.count()) {
        m_rangeReporter(this, tr("Select the site to update in the list first."));
        return false;
    }
    if (!readControls() || !checkRequiredFields())
        return false;
    const SiteEntry entry = entryFromFields();
    m_sites.replace(static_cast<std::size_t>(row), entry);
    setRow(row, entry);
    m_sites.save(m_filePath);
    markShown(row);
    return true;
}

bool CSiteDialog::connectSite()
{
    if (!readControls())
        return false;
    accept();
    return true;
}

void CSiteDialog::onTlsChosen(int index)
{
    // Implicit TLS has a port of its own; move between the two well-known ports, keep any other.
    const QString port = m_port->text().trimmed();
    const bool implicit = static_cast<SiteTls>(index) == SiteTls::Implicit;
    if (implicit && port == QLatin1String("21"))
        m_port->setText(QStringLiteral("990"));
    else if (!implicit && port == QLatin1String("990"))
        m_port->setText(QStringLiteral("21"));
}

void CSiteDialog::onProtocolChosen(int index)
{
    const bool sftp = static_cast<SiteProtocol>(index) == SiteProtocol::Sftp;
    const QString port = m_port->text().trimmed();
    if (sftp) {
        if (port == QLatin1String("21") || port == QLatin1String("990"))
            m_port->setText(QStringLiteral("22"));
        m_tls->setCurrentIndex(static_cast<int>(SiteTls::None));
    } else if (port == QLatin1String("22")) {
        m_port->setText(QStringLiteral("21"));
    }
    m_tls->setEnabled(!sftp);
}

void CSiteDialog::onAnonymousClicked()
{
    updateUserEnabling(m_anonymous->isChecked());
}

void CSiteDialog::showSelectedSite()
{
    int row = m_list->firstSelectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= m_sites.count()) {
        row = -1;
        m_fields.name.clear();
        m_fields.address.clear();
        m_fields.user.clear();
        m_fields.password.clear();
        m_fields.port = 21;
        m_fields.anonymous = false;
        m_fields.options = siteOptionsFromSettings(m_settings);
    } else {
        const SiteEntry &entry = m_sites.at(static_cast<std::size_t>(row));
        m_fields.name = QString::fromStdString(entry.name);
        m_fields.address = QString::fromStdString(entry.address);
        m_fields.port = entry.port;
        m_fields.anonymous = entry.anonymous != 0;
        m_fields.user = QString::fromStdString(entry.user);
        m_fields.password = QString::fromStdString(entry.password);
        m_fields.options = entry.options;
    }
    fillControls();
    m_shownRow = row;
}

void CSiteDialog::editAdvanced()
{
    SiteOptions options = m_fields.options;
    if (m_advancedEditor(this, options))
        m_fields.options = options;
}

bool CSiteDialog::deleteSites()
{
    const QList<int> rows = m_list->selectedRows();
    if (rows.isEmpty())
        return false;
    const QString text = rows.size() == 1
        ? tr("Delete the site \"%1\"?").arg(m_list->itemText(rows.first(), 0))
        : tr("Delete the %n selected sites?", nullptr, static_cast<int>(rows.size()));
    if (!m_deleteConfirmer(this, text))
        return false;
    // From the last row up, so the indexes still to go stay valid.
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        m_sites.remove(static_cast<std::size_t>(*it));
        m_list->deleteItem(*it);
    }
    m_sites.save(m_filePath);
    showSelectedSite();
    return true;
}

bool CSiteDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonRelease)
        onListClicked();
    // A double click or Enter on a site connects to it, as the Connect button does for its fields.
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick
        && m_list->rowAt(static_cast<QMouseEvent *>(event)->position().toPoint()) >= 0) {
        if (onListClicked())
            connectSite();
        return true;
    }
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_list->firstSelectedRow() >= 0) {
            if (onListClicked())
                connectSite();
            return true;
        }
        if (key == Qt::Key_Delete) {
            deleteSites();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

ConnectState::ConnectState()
    : user(QString::fromLatin1(core::kAnonymousUser))
    , password(QString::fromLatin1(core::kDefaultAnonymousPassword))
    , sitesFile(siteFilePath())
{}

SiteFields ConnectState::fields() const
{
    SiteFields fields;
    fields.name = siteName;
    fields.address = host;
    fields.port = port;
    fields.anonymous = anonymous;
    fields.user = user;
    fields.password = password;
    fields.options.tls = tls;
    fields.options.protocol = protocol;
    return fields;
}

void ConnectState::take(const SiteFields &fields)
{
    siteName = fields.name;
    host = fields.address;
    port = fields.port;
    anonymous = fields.anonymous;
    user = fields.user;
    password = fields.password;
    tls = fields.options.tls;
    protocol = fields.options.protocol;
    if (anonymous) {
        user = QString::fromLatin1(core::kAnonymousUser);
        password = QString::fromLatin1(core::kDefaultAnonymousPassword);
    }
}

std::int32_t queueManualConnection(core::QueueList &queue, const std::string &user,
    const std::string &password, const std::string &host, std::int32_t port, const SiteOptions &options,
    engine::KeyringService *keyring)
{
    // Escaped, or a "%41" in a password would log in as "A" and a ":" in a user name would end it.
    // A site whose password the keyring keeps has none in its file: the worker looks it up for a URL
    // that names no password (an empty one after the ":" would be sent as it is).
    const bool fromKeyring = password.empty() && keyring && keyring->isUsedForFiles()
        && keyring->state() == engine::KeyringService::State::Available;
    const std::string url = siteSchemePrefix(options) + core::escapeUserInfo(user)
        + (fromKeyring ? "" : ":" + core::escapeUserInfo(password)) + "@" + core::hostForUrl(host) + ":"
        + std::to_string(port);
    return queue.addItem(url, "", 0, options.retryTime, options.retryCount, options.timeout, options.passive);
}

std::int32_t runConnectCommand(QWidget *parent, ConnectState &state, const engine::SettingsStore &settings,
    core::QueueList &queue, const std::function<int(CSiteDialog &)> &runDialog)
{
    CSiteDialog dialog(state.sites, state.sitesFile, settings, state.fields(), parent);
    const int result = runDialog ? runDialog(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return 0;
    state.take(dialog.fields());
    return queueManualConnection(queue, state.user.toStdString(), state.password.toStdString(),
        state.host.toStdString(), state.port, dialog.fields().options, state.sites.keyring());
}

} // namespace bw::browse
